// Lasting notices at the top of the page: what the page cannot do as it
// should (no shared memory, storage the browser refuses). A notice stays
// until what it says changes; the messages of a compile or run do not
// clear it.
const $ = id => document.getElementById(id);

// Shows (text) or removes ('') the notice with this id; the user may close it.
export function setNotice(id, text) {
  let n = document.getElementById(id);
  if (!text) {
    if (n) n.hidden = true;
    return;
  }
  if (!n) {
    n = document.createElement('div');
    n.id = id;
    n.className = 'notice';
    n.setAttribute('role', 'status');
    $('notices').appendChild(n);
  }
  n.textContent = text;
  const close = document.createElement('button');
  close.textContent = '閉じる';
  close.className = 'notice-close';
  close.onclick = () => { n.hidden = true; };
  n.appendChild(close);
  n.hidden = false;
}
