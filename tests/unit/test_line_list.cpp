// List values: copies share chunks of lines until one side changes, a
// line inserted or deleted moves the lines of its chunk only, and lines
// share their text with the values they came from and go to.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "engine/line_list.h"
#include "text/lines.h"

using namespace velmora;
using velmora::engine::LineList;
using velmora::engine::StrValue;

namespace {

LineList numbered(std::size_t n, const char16_t *prefix = u"line ") {
  LineList l;
  for (std::size_t i = 0; i < n; ++i) l.push_back(prefix + text::int16(long(i)));
  return l;
}

// Three list values and a plain vector beside each, for random edits done
// to both alike; copies and appends between them share chunks.
struct Modelled {
  std::vector<LineList> lists = std::vector<LineList>(3);
  std::vector<Lines> model = std::vector<Lines>(3);
  void copy(std::size_t x, std::size_t y) {
    lists[x] = lists[y];
    model[x] = model[y];
  }
  void append(std::size_t x, std::size_t y) {
    lists[x].append(lists[y]);
    const Lines other = model[y];  // y may be x
    model[x].insert(model[x].end(), other.begin(), other.end());
  }
};

}  // namespace

TEST(LineList, ACopySharesUntilALineChangesThenOnlyThatChunkIsCopied) {
  const std::size_t n = 3 * LineList::kChunk + 10;
  LineList a = numbered(n);
  LineList b = a;
  for (std::size_t i = 0; i < n; i += LineList::kChunk) EXPECT_TRUE(b.sharesLine(i));
  b.set(LineList::kChunk + 5, u"changed");
  EXPECT_EQ(a[LineList::kChunk + 5], u"line " + text::int16(long(LineList::kChunk + 5)));
  EXPECT_EQ(b[LineList::kChunk + 5], u"changed");
  EXPECT_FALSE(b.sharesLine(LineList::kChunk));  // the changed chunk is b's own now
  EXPECT_TRUE(b.sharesLine(0));                  // the others are still shared
  EXPECT_TRUE(b.sharesLine(n - 1));
  // Appending to a copy whose last chunk is shared leaves the original alone.
  b.push_back(u"tail");
  EXPECT_EQ(a.size(), n);
  EXPECT_EQ(a.back(), u"line " + text::int16(long(n - 1)));
  EXPECT_EQ(b.back(), u"tail");
}

TEST(LineList, AppendingAListToItselfAndAtChunkBoundaries) {
  for (std::size_t n :
       {std::size_t(0), std::size_t(1), LineList::kChunk - 1, LineList::kChunk, 2 * LineList::kChunk + 1}) {
    LineList l = numbered(n);
    l.append(l);
    ASSERT_EQ(l.size(), 2 * n);
    for (std::size_t i = 0; i < n; ++i) ASSERT_EQ(l[i], l[n + i]) << n;
    // Lines pushed after the append go after it, and the chunk layout still
    // finds every line by position.
    l.push_back(u"x");
    EXPECT_EQ(l[2 * n], u"x");
    EXPECT_EQ(l.lines().size(), 2 * n + 1);
  }
}

TEST(LineList, TakeMovesOwnLinesAndCopiesSharedOnes) {
  LineList a = numbered(2 * LineList::kChunk);
  LineList b = a;
  Lines taken = b.take();
  EXPECT_TRUE(b.empty());
  EXPECT_EQ(a, taken);  // the shared lines were copied, not moved out of a
  LineList c = numbered(5);
  Lines own = c.take();
  EXPECT_EQ(own, (Lines{u"line 0", u"line 1", u"line 2", u"line 3", u"line 4"}));
}

// Random edits on a list value and on a plain vector give the same lines,
// with copies taken and changed along the way.
TEST(LineList, RandomEditsMatchAPlainVector) {
  std::mt19937 rng(9122026);
  auto pick = [&](std::size_t n) { return std::size_t(rng() % n); };
  Modelled all;
  std::vector<LineList> &lists = all.lists;
  std::vector<Lines> &model = all.model;
  for (int step = 0; step < 4000; ++step) {
    const std::size_t x = pick(3), y = pick(3);
    LineList &l = lists[x];
    Lines &m = model[x];
    switch (pick(8)) {
      case 0:
      case 1: {
        std::size_t k = 1 + pick(700);
        for (std::size_t i = 0; i < k; ++i) {
          // Of every length: held in the line, in the list's text, alone.
          u16 line = text::int16(long(step)) + u"." + text::int16(long(i)) + u16(pick(4) == 0 ? pick(300) : 0, u'x');
          l.push_back(line);
          m.push_back(line);
        }
        break;
      }
      case 2: all.copy(x, y); break;
      case 3: all.append(x, y); break;
      case 4:
        if (!m.empty()) {
          std::size_t i = pick(m.size());
          m[i] = u"edit " + text::int16(long(step));
          l.set(i, m[i]);
        }
        break;
      case 5:
        if (!m.empty()) {
          std::size_t i = pick(m.size());
          l.erase(i);
          m.erase(m.begin() + std::ptrdiff_t(i));
        }
        break;
      case 6:
        if (m.size() > 5000) {
          l.clear();
          m.clear();
        }
        break;
      default: {
        std::size_t i = m.empty() ? 0 : pick(m.size() + 1);
        l.insert(i, u"ins");
        m.insert(m.begin() + std::ptrdiff_t(i), u"ins");
        break;
      }
    }
    // The list changed, and every list now and then (copies share chunks).
    for (std::size_t k = 0; k < 3; ++k) {
      if (k != x && step % 64 != 0) continue;
      ASSERT_TRUE(lists[k] == model[k]) << "step " << step << ", list " << k;
      // Chunks stay few however lines come and go: merged neighbours hold
      // more than half a chunk between them.
      ASSERT_LE(lists[k].chunkCount(), 2 * (model[k].size() / (LineList::kChunk / 2)) + 2) << "step " << step;
    }
  }
}

TEST(LineList, InsertAndDeleteUnshareOnlyTheirChunk) {
  const std::size_t n = 4 * LineList::kChunk;
  LineList a = numbered(n);
  for (std::size_t at : {std::size_t(0), LineList::kChunk - 1, LineList::kChunk, 2 * LineList::kChunk + 7, n - 1}) {
    LineList b = a;
    b.insert(at, u"new");
    ASSERT_EQ(b.size(), n + 1);
    EXPECT_EQ(b[at], u"new");
    EXPECT_EQ(b[at + 1], a[at]);
    EXPECT_FALSE(b.sharesLine(at));
    // Lines of the other chunks are still the original's.
    std::size_t shared = 0;
    for (std::size_t i = 0; i < b.size(); i += LineList::kChunk / 2) shared += b.sharesLine(i);
    EXPECT_GE(shared, 4u) << at;
    b.erase(at);
    EXPECT_TRUE(b == a) << at;
    b.erase(at);
    EXPECT_EQ(b.size(), n - 1);
    if (at + 1 < n) EXPECT_EQ(b[at], a[at + 1]);
    if (at > 0) EXPECT_EQ(b[at - 1], a[at - 1]);
    EXPECT_EQ(a.size(), n);  // the original never changes
    EXPECT_EQ(a[at], u"line " + text::int16(long(at)));
  }
  // Past the end appends; on an empty list too.
  LineList e;
  e.insert(5, u"only");
  EXPECT_EQ(e, (Lines{u"only"}));
  e.erase(3);
  EXPECT_EQ(e.size(), 1u);
  e.erase(0);
  EXPECT_TRUE(e.empty());
}

TEST(LineList, LinesOfEveryLengthRoundTripAndShareTextWithValues) {
  // Held in the line (7), in the list's shared text (8, 256), in a text of
  // their own (257 on).
  LineList l;
  std::vector<u16> texts;
  for (std::size_t n : {0, 1, 7, 8, 16, 17, 256, 257, 5000}) {
    u16 t;
    for (std::size_t i = 0; i < n; ++i) t += char16_t(u'a' + (i * 7 + n) % 26);
    texts.push_back(t);
    l.push_back(t);
  }
  for (std::size_t i = 0; i < texts.size(); ++i) {
    EXPECT_EQ(l[i], texts[i]);
    EXPECT_EQ(l.value(i), texts[i]);
  }
  // A value read from a line shares the line's text, and so does a line
  // made from a value that is a slice of a text.
  StrValue read = l.value(7);
  StrValue again = l.value(7);
  EXPECT_TRUE(read.sharesBufferWith(again));
  StrValue big{u16(3000, u'x')};
  l.push_back(big);
  EXPECT_TRUE(l.value(l.size() - 1).sharesBufferWith(big));
  l.set(0, big);
  EXPECT_TRUE(l.value(0).sharesBufferWith(big));
  // The value grows in place; the lines keep what they were given.
  big.append(u"tail");
  EXPECT_EQ(l[0], u16(3000, u'x'));
  EXPECT_EQ(big.size(), 3004u);
  // Growing a value read from a short line leaves the list's text alone,
  // also when the list's next lines go where the value grew.
  StrValue grown = l.value(3);
  grown.append(u"++");
  l.push_back(u"pushed after");
  EXPECT_EQ(l[3], texts[3]);
  EXPECT_EQ(grown, texts[3] + u"++");
  EXPECT_EQ(l.back(), u"pushed after");
}

TEST(LineList, TextCutIntoLinesAsSplitLinesCutsIt) {
  u16 many;
  for (int i = 0; i < 1500; ++i) many += u"row " + text::int16(i) + (i % 3 == 0 ? u"\r\n" : i % 3 == 1 ? u"\n" : u"\r");
  for (const u16 &text : std::vector<u16>{u"", u"a", u"a\n", u"a\r\n", u"a\rb", u"\n\n", u"a\r\n\r\nb", u"\r\r\n",
                                          u"one line of a page, long enough to be a text of its own", many}) {
    const Lines want = text::split_lines(text);
    const LineList got = LineList::ofText(text);
    ASSERT_EQ(got, want) << text::to_utf8(text).substr(0, 40);
    ASSERT_EQ(LineList(want), want);
  }
}

TEST(LineList, EscapePairsAreJudgedWithinEachLine) {
  // One text for all lines: a backslash ending a line and an n beginning
  // the next are no pair, but a backslash at a line's end is (it is dropped
  // when read).
  const LineList l = LineList::ofText(u"ends with\\\nnext line\nmid\\qdle here\nplain text here");
  ASSERT_EQ(l.size(), 4u);
  EXPECT_FALSE(l.value(0).escapeFree());
  EXPECT_EQ(l.value(0).escaped(), u"ends with");
  EXPECT_TRUE(l.value(1).escapeFree());
  EXPECT_FALSE(l.value(2).escapeFree());
  EXPECT_EQ(l.value(2).escaped(), u"mid\"dle here");
  EXPECT_TRUE(l.value(3).escapeFree());
}

namespace {

// The lines a search by key offers (before the caller's own comparison).
std::vector<std::size_t> offered(const LineList &l, u16view key) {
  std::vector<std::size_t> out;
  l.forEachPossible(engine::PairKey(key), [&](std::size_t i, const engine::Line &line) {
    EXPECT_EQ(line.view(), l[i]);  // the index and the line agree
    out.push_back(i);
  });
  return out;
}

}  // namespace

// A search by key offers at least every line holding the key, in order,
// whatever was done to the list and its copies since its lines were signed:
// lines set, pushed, inserted and deleted (chunks split and merged), lists
// copied, appended and cleared. Few letters, so that keys often occur.
TEST(LineList, SearchByKeyOffersEveryLineThatHoldsTheKey) {
  std::mt19937 rng(11122026);
  auto pick = [&](std::size_t n) { return std::size_t(rng() % n); };
  auto text = [&](std::size_t most) {
    u16 t;
    for (std::size_t n = pick(most + 1); n > 0; --n) t += char16_t(u'a' + pick(4));
    return t;
  };
  Modelled all;
  std::vector<LineList> &lists = all.lists;
  std::vector<Lines> &model = all.model;
  std::size_t hits = 0, checks = 0;
  for (int step = 0; step < 3000; ++step) {
    const std::size_t x = pick(3), y = pick(3);
    LineList &l = lists[x];
    Lines &m = model[x];
    switch (pick(9)) {
      case 0:
        for (std::size_t k = 1 + pick(3 * LineList::kChunk); k > 0; --k) {
          // Short (in the handle), in the list's text, and long ones.
          const u16 line = pick(20) == 0 ? text(300) : text(12);
          l.push_back(line);
          m.push_back(line);
        }
        break;
      case 1:
      case 2:
        if (!m.empty()) {
          const std::size_t i = pick(m.size());
          m[i] = text(10);
          l.set(i, m[i]);
        }
        break;
      case 3:
        if (!m.empty()) {
          // Runs of deletions empty chunks and merge neighbours.
          for (std::size_t k = 1 + pick(40); k > 0 && !m.empty(); --k) {
            const std::size_t i = pick(m.size());
            l.erase(i);
            m.erase(m.begin() + std::ptrdiff_t(i));
          }
        }
        break;
      case 4: {
        // Insertions into one place fill its chunk and split it.
        const std::size_t at = m.empty() ? 0 : pick(m.size() + 1);
        for (std::size_t k = 1 + pick(LineList::kChunk); k > 0; --k) {
          const u16 line = text(9);
          l.insert(at, line);
          m.insert(m.begin() + std::ptrdiff_t(std::min(at, m.size())), line);
        }
        break;
      }
      case 5: all.copy(x, y); break;
      case 6: all.append(x, y); break;
      case 7:
        if (m.size() > 3000) {
          l.clear();
          m.clear();
        }
        break;
      default:
        break;  // searches only
    }
    // Every list is searched after every step, so that chunks are signed
    // early and then changed.
    for (std::size_t k = 0; k < 3; ++k) {
      const u16 key = text(4);
      std::vector<std::size_t> want;
      for (std::size_t i = 0; i < model[k].size(); ++i)
        if (model[k][i].find(key) != u16::npos) want.push_back(i);
      std::vector<std::size_t> got;
      for (const std::size_t i : offered(lists[k], key))
        if (lists[k][i].find(key) != u16view::npos) got.push_back(i);
      ASSERT_EQ(got, want) << "step " << step << ", list " << k << ", key " << text::to_utf8(key);
      hits += want.size();
      ++checks;
    }
  }
  EXPECT_GT(hits, checks);  // keys were found, not only missed
}

// The signatures are used: a list of counts searched by one word's key
// offers few of its lines once its chunks are signed, and a first search
// signs nothing (a list searched once does not pay for them).
TEST(LineList, SearchByKeyPassesOverLinesThatCannotHoldIt) {
  LineList counts;
  for (int i = 0; i < 5000; ++i) counts.push_back(u"|word" + text::int16(i) + u"|" + text::int16(i % 97));
  const u16 key = u"|word4321|";
  EXPECT_EQ(offered(counts, key).size(), counts.size());
  EXPECT_EQ(counts.signedChunks(), 0u);
  const std::vector<std::size_t> second = offered(counts, key);
  EXPECT_EQ(counts.signedChunks(), counts.chunkCount());
  EXPECT_LT(second.size(), 100u);
  EXPECT_NE(std::find(second.begin(), second.end(), std::size_t(4321)), second.end());
  // A line changed after signing is found by its new text, not its old.
  counts.set(4321, u"|gone|");
  counts.set(17, u"|word4321|1");
  const std::vector<std::size_t> after = offered(counts, key);
  EXPECT_NE(std::find(after.begin(), after.end(), std::size_t(17)), after.end());
  EXPECT_LT(after.size(), 100u);
  // A key of one character asks nothing of the signatures.
  EXPECT_EQ(offered(counts, u"|").size(), counts.size());
}
