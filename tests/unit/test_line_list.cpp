// List values: copies share chunks of lines until one side changes.
#include <gtest/gtest.h>

#include <random>

#include "engine/line_list.h"

using namespace velmora;
using velmora::engine::LineList;

namespace {

LineList numbered(std::size_t n, const char16_t *prefix = u"line ") {
  LineList l;
  for (std::size_t i = 0; i < n; ++i) l.push_back(prefix + text::int16(long(i)));
  return l;
}

}  // namespace

TEST(LineList, ACopySharesUntilALineChangesThenOnlyThatChunkIsCopied) {
  const std::size_t n = 3 * LineList::kChunk + 10;
  LineList a = numbered(n);
  LineList b = a;
  for (std::size_t i = 0; i < n; i += LineList::kChunk) EXPECT_TRUE(b.sharesLine(i));
  b.edit(LineList::kChunk + 5) = u"changed";
  EXPECT_EQ(a[LineList::kChunk + 5], u"line 1029");
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
  std::vector<LineList> lists(3);
  std::vector<Lines> model(3);
  for (int step = 0; step < 4000; ++step) {
    const std::size_t x = pick(3), y = pick(3);
    LineList &l = lists[x];
    Lines &m = model[x];
    switch (pick(8)) {
      case 0:
      case 1: {
        std::size_t k = 1 + pick(700);
        for (std::size_t i = 0; i < k; ++i) {
          u16 line = text::int16(long(step)) + u"." + text::int16(long(i));
          l.push_back(line);
          m.push_back(line);
        }
        break;
      }
      case 2:
        l = lists[y];
        m = model[y];
        break;
      case 3: {
        l.append(lists[y]);
        const Lines other = model[y];  // y may be x
        m.insert(m.end(), other.begin(), other.end());
        break;
      }
      case 4:
        if (!m.empty()) {
          std::size_t i = pick(m.size());
          l.edit(i) = m[i] = u"edit " + text::int16(long(step));
        }
        break;
      case 5:
        if (!m.empty()) {
          std::size_t i = pick(m.size());
          l.change([&](Lines &v) { v.erase(v.begin() + std::ptrdiff_t(i)); });
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
        l.change([&](Lines &v) { v.insert(v.begin() + std::ptrdiff_t(i), u"ins"); });
        m.insert(m.begin() + std::ptrdiff_t(i), u"ins");
        break;
      }
    }
    for (std::size_t k = 0; k < 3; ++k) ASSERT_TRUE(lists[k] == model[k]) << "step " << step << ", list " << k;
  }
}
