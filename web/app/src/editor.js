// The program editor: CodeMirror 6 with line numbers, undo that stays with
// each tab (every tab keeps its own editor state, history included), find
// and replace, bracket matching, the desktop's indentation, colouring from
// the loaded word lists, and a compile error marked at its line and column
// with the plain explanation as a diagnostic.
import { EditorSelection, EditorState, RangeSetBuilder, StateEffect, StateField } from '@codemirror/state';
import {
  Decoration, EditorView, GutterMarker, ViewPlugin, drawSelection, gutterLineClass, highlightActiveLineGutter,
  highlightSpecialChars, keymap, lineNumbers,
} from '@codemirror/view';
import { defaultKeymap, history, historyKeymap, indentWithTab } from '@codemirror/commands';
import { bracketMatching, indentUnit } from '@codemirror/language';
import { highlightSelectionMatches, openSearchPanel, search, searchKeymap } from '@codemirror/search';
import { lintGutter, setDiagnostics, setDiagnosticsEffect } from '@codemirror/lint';
import { dedentClosing, indentAfter, tokens } from './language.js';

const UNIT = 2;  // spaces per indentation step, as the examples are written

// ----- colouring from the word lists the worker loaded
let words = { keywords: new Set(), functions: new Set() };
const wordsChanged = StateEffect.define();
const marks = {};
for (const cls of ['kw', 'fn', 'str', 'num', 'var', 'cmt']) marks[cls] = Decoration.mark({ class: cls });

function colourVisible(view) {
  const builder = new RangeSetBuilder();
  for (const { from, to } of view.visibleRanges) {
    for (let pos = from; pos <= to;) {
      const line = view.state.doc.lineAt(pos);
      for (const [a, b, cls] of tokens(line.text, words)) builder.add(line.from + a, line.from + b, marks[cls]);
      pos = line.to + 1;
    }
  }
  return builder.finish();
}
const colouring = ViewPlugin.fromClass(class {
  constructor(view) { this.decorations = colourVisible(view); }
  update(u) {
    if (u.docChanged || u.viewportChanged || u.transactions.some(t => t.effects.some(e => e.is(wordsChanged))))
      this.decorations = colourVisible(u.view);
  }
}, { decorations: v => v.decorations });

// ----- the line of a compile or run-time error: highlighted, its number in
// the gutter marked, until the text changes
const setErrorLine = StateEffect.define();
const errorLine = StateField.define({
  create: () => 0,
  update(line, tr) {
    for (const e of tr.effects) if (e.is(setErrorLine)) return e.value;
    return tr.docChanged ? 0 : line;
  },
});
const errorLineDecoration = Decoration.line({ class: 'error-line' });
const errorGutter = new class extends GutterMarker { elementClass = 'error'; }();
const errorMarks = [
  errorLine,
  EditorView.decorations.compute([errorLine], state => {
    const n = state.field(errorLine);
    if (!n || n > state.doc.lines) return Decoration.none;
    return Decoration.set([errorLineDecoration.range(state.doc.line(n).from)]);
  }),
  gutterLineClass.compute([errorLine], state => {
    const n = state.field(errorLine);
    if (!n || n > state.doc.lines) return new RangeSetBuilder().finish();
    const b = new RangeSetBuilder();
    b.add(state.doc.line(n).from, state.doc.line(n).from, errorGutter);
    return b.finish();
  }),
  // Diagnostics belong to the text they were made for.
  EditorState.transactionExtender.of(tr => tr.docChanged && tr.startState.field(errorLine) ? { effects: setDiagnosticsEffect.of([]) } : null),
];

// ----- Enter as the desktop editors do it: a closing word alone on its
// line steps back, the new line keeps the indentation, one step more after
// a line that opens a block
function newline(view) {
  const { state } = view;
  if (state.readOnly) return false;
  const tr = state.changeByRange(range => {
    const line = state.doc.lineAt(range.from);
    const before = line.text.slice(0, range.from - line.from);
    const closed = dedentClosing(before, UNIT);
    const cut = before.length - closed.length;
    const rest = state.doc.sliceString(range.to, line.to);
    const skip = rest.length - rest.replace(/^[ \t]+/, '').length;
    const indent = indentAfter(closed, UNIT);
    const changes = [{ from: range.from, to: range.to + skip, insert: '\n' + indent }];
    if (cut) changes.push({ from: line.from, to: line.from + cut });
    return { changes, range: EditorSelection.cursor(range.from - cut + 1 + indent.length) };
  });
  view.dispatch(state.update(tr, { scrollIntoView: true, userEvent: 'input' }));
  return true;
}

// Japanese captions of the find and replace panel.
const phrases = EditorState.phrases.of({
  'Find': '検索', 'Replace': '置換', 'next': '次へ', 'previous': '前へ', 'all': 'すべて選択', 'match case': '大文字と小文字を区別',
  'regexp': '正規表現', 'by word': '単語単位', 'replace': '置換', 'replace all': 'すべて置換', 'close': '閉じる',
  'current match': '現在の一致', 'on line': '行', 'Go to line': '行へ移動', 'go': '移動',
  'replaced match on line $': '$ 行目を置換しました', 'replaced $ matches': '$ 箇所を置換しました',
});

export function createEditor(parent, { onChange }) {
  const extensions = [
    lineNumbers(), highlightActiveLineGutter(), highlightSpecialChars(), history(), drawSelection(),
    bracketMatching(), highlightSelectionMatches(), search({ top: true }), lintGutter(), phrases,
    indentUnit.of(' '.repeat(UNIT)), EditorState.tabSize.of(4), colouring, errorMarks,
    keymap.of([
      { key: 'Enter', run: newline },
      { key: 'Mod-h', run: openSearchPanel },
      ...searchKeymap, ...historyKeymap, indentWithTab, ...defaultKeymap,
    ]),
    EditorView.updateListener.of(u => { if (u.docChanged) onChange(u.state.doc.toString(), u); }),
    EditorView.contentAttributes.of({ 'aria-label': 'プログラム' }),
  ];
  const view = new EditorView({ parent, state: EditorState.create({ doc: '', extensions }) });
  let scrolls = new WeakMap();
  return {
    view,
    // A state for a tab's text, with everything the editor offers.
    newState: text => EditorState.create({ doc: text, extensions }),
    // Shows a tab's state; the one shown before is returned, to be kept by its tab.
    show(state) {
      const old = view.state;
      scrolls.set(old, view.scrollDOM.scrollTop);
      view.setState(state);
      if (scrolls.has(state)) view.scrollDOM.scrollTop = scrolls.get(state);
      return old;
    },
    state: () => view.state,
    text: () => view.state.doc.toString(),
    // The whole text replaced as one edit (undoable), as a paste would.
    setText(text) {
      view.dispatch({ changes: { from: 0, to: view.state.doc.length, insert: text }, userEvent: 'input.paste' });
    },
    setWords(w) {
      words = w;
      view.dispatch({ effects: wordsChanged.of(null) });
    },
    // Marks line `line` (from 0); with a column, the explanation becomes a
    // diagnostic on the token there.
    markError(line, column, message, note) {
      const doc = view.state.doc;
      if (line < 0 || line >= doc.lines) return;
      const l = doc.line(line + 1);
      const effects = [setErrorLine.of(line + 1)];
      const spec = { effects, selection: { anchor: l.from }, scrollIntoView: true };
      view.dispatch(spec);
      if (message) {
        const from = l.from + Math.min(Math.max(column, 0), l.length);
        let to = from;
        while (to < l.to && !/[\s;]/.test(doc.sliceString(to, to + 1))) ++to;
        view.dispatch(setDiagnostics(view.state, [{ from, to: Math.max(to, from), severity: note ? 'warning' : 'error', message }]));
      }
      view.dispatch({ effects: EditorView.scrollIntoView(l.from, { y: 'center' }) });
    },
    clearMarks() {
      view.dispatch({ effects: setErrorLine.of(0) });
      view.dispatch(setDiagnostics(view.state, []));
    },
    focus: () => view.focus(),
  };
}
