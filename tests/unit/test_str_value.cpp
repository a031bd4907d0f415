// The shared string value: sharing and in-place growth, the escape rule on
// any slice, and random string programs checked against a plain model that
// copies whole texts at every step.
#include <map>
#include <random>

#include "engine/pcode.h"
#include "engine/str_value.h"
#include "engine/text_ops.h"
#include "tests/unit/engine_fixture.h"

using namespace velmora;
using namespace velmora::engine;
using velmora::testing::tcode;

namespace {

u16 long_text(std::size_t n, char16_t base = u'a') {
  u16 s;
  for (std::size_t i = 0; i < n; ++i) s += char16_t(base + i % 26);
  return s;
}

}  // namespace

TEST(StrValue, CopiesAndLongSlicesShareShortSlicesAreCopied) {
  StrValue s(long_text(1000));
  StrValue copy = s;
  EXPECT_TRUE(copy.sharesBufferWith(s));
  StrValue rest = s.slice(100, 900);
  EXPECT_TRUE(rest.sharesBufferWith(s));
  EXPECT_EQ(rest, u16view(long_text(1000)).substr(100));
  StrValue cell = s.slice(10, 5);  // a small piece does not keep the text alive
  EXPECT_FALSE(cell.sharesBufferWith(s));
  EXPECT_EQ(cell, u"klmno");
  EXPECT_TRUE(s.slice(1000, 3).empty());
  EXPECT_EQ(s.slice(998, 50), u"kl");  // clipped at the end
}

TEST(StrValue, AppendingInPlaceLeavesEarlierCopiesAsTheyWere) {
  const u16 base = long_text(20);  // longer than a small value
  StrValue a(base);
  a.append(u"d");  // a new buffer with room
  StrValue b = a;
  a.append(u"e");  // in place: a ends at the fill mark
  EXPECT_TRUE(a.sharesBufferWith(b));
  EXPECT_EQ(a, base + u"de");
  EXPECT_EQ(b, base + u"d");
  b.append(u"X");  // b no longer ends at the fill mark: copied
  EXPECT_FALSE(b.sharesBufferWith(a));
  EXPECT_EQ(b, base + u"dX");
  EXPECT_EQ(a, base + u"de");
  a.append(u"f");
  EXPECT_EQ(a, base + u"def");
  EXPECT_EQ(b, base + u"dX");
  // A short value grows in itself, without a buffer.
  StrValue s(u16(u"abc"));
  s.append(u"d");
  EXPECT_TRUE(s.isSmall());
  EXPECT_EQ(s, u"abcd");
}

TEST(StrValue, AValueAppendedToItself) {
  StrValue a(u16(u"xy"));
  a += a;
  EXPECT_EQ(a, u"xyxy");
  a.append(a.view());  // a view into its own buffer, which grows
  EXPECT_EQ(a, u"xyxyxyxy");
  for (int i = 0; i < 10; ++i) a.append(a.view().substr(0, 3));
  EXPECT_EQ(a.size(), 38u);
  EXPECT_EQ(a.view().substr(30), u"yxxyxxyx");
  StrValue two = StrValue::concat(StrValue(long_text(300)), StrValue(long_text(300, u'A')));
  two.append(two.view());
  EXPECT_EQ(two, long_text(300) + long_text(300, u'A') + long_text(300) + long_text(300, u'A'));
}

TEST(StrValue, SlicesOfABufferThatGrows) {
  StrValue s(u16(u"0123456789"));
  s.append(u"abcdefghij");
  StrValue early = s.slice(5, 10);
  std::vector<StrValue> taken;
  for (int i = 0; i < 2000; ++i) {  // many reallocations of the shared buffer
    s.append(u"+");
    if (i % 500 == 0) taken.push_back(s);
  }
  EXPECT_EQ(early, u"56789abcde");
  for (std::size_t k = 0; k < taken.size(); ++k) {
    EXPECT_EQ(taken[k].size(), 20 + 500 * k + 1);
    EXPECT_EQ(taken[k].view().substr(0, 21), u"0123456789abcdefghij+");
  }
  EXPECT_EQ(s.size(), 2020u);
}

TEST(StrValue, EscapeRuleOnEverySliceAndEverySplit) {
  // Pairs, a doubled backslash before a pair letter, a backslash before an
  // ordinary letter and a trailing backslash.
  const u16 text = u"a\\nb\\\\qc\\xd\\t\\r\\q\\";
  StrValue whole(text);
  for (std::size_t i = 0; i <= text.size(); ++i)
    for (std::size_t j = i; j <= text.size(); ++j) {
      u16view piece = u16view(text).substr(i, j - i);
      StrValue slice = whole.slice(i, j - i);
      ASSERT_EQ(slice.escaped(), apply_escapes(piece)) << i << ".." << j;
      ASSERT_EQ(slice.escapeFree(), apply_escapes(piece) == piece) << i << ".." << j;
      // The same characters as a head and a tail from separate buffers.
      for (std::size_t k = i; k <= j; ++k) {
        StrValue two = StrValue::concat(StrValue(u16(text.substr(i, k - i))), StrValue(u16(text.substr(k, j - k))));
        ASSERT_EQ(two.escapeFree(), apply_escapes(piece) == piece) << i << ".." << k << ".." << j;
        ASSERT_EQ(two.escaped(), apply_escapes(piece));
      }
    }
  StrValue pieces(u16(u"x\\"));  // a pair formed by an append
  EXPECT_FALSE(pieces.escapeFree());
  pieces.append(u"y");
  EXPECT_TRUE(pieces.escapeFree());
  pieces.append(u"\\");
  pieces.append(u"q");
  EXPECT_FALSE(pieces.escapeFree());
  EXPECT_EQ(pieces.escaped(), u"x\\y\"");
}

TEST(StrValue, FindAcrossHeadAndTailFoldedOrNot) {
  StrValue two = StrValue::concat(StrValue(u16(u"xx<t")), StrValue(u16(u"d>yy<TD>")));
  EXPECT_TRUE(two.isTwoPart());
  EXPECT_EQ(two.find(u"<td>", 0, nullptr), 2u);  // straddles the parts
  EXPECT_EQ(two.find(u"<td>", 3, nullptr), u16view::npos);
  EXPECT_EQ(two.find(u"<TD>", 3, fold_char), 8u);
  EXPECT_EQ(two.find(u"Y", 0, fold_char), 6u);
  EXPECT_EQ(two.find(u"x", 1, nullptr), 1u);
  EXPECT_TRUE(two.isTwoPart());  // searching does not join
  EXPECT_EQ(two, u"xx<td>yy<TD>");
}

TEST(StrValue, LeftToRightZonesKeepTheRestShared) {
  u16 page = u"<table>";
  for (int i = 0; i < 200; ++i) page += (i % 10 == 0 ? u"<tr>" : u"") + (u"<td>" + text::int16(i) + u"</td>");
  StrValue s(page);
  u16 model = page;
  for (int i = 0; i < 200; ++i) {
    ValueZone z = value_zone(s, u"<td>", u"</td>", u"[++]", false);
    Zone m = string_zone(model, u"<td>", u"</td>", u"[++]", false);
    if (i < 199) {
      EXPECT_TRUE(z.rest.isTwoPart());  // text before the cells (reading joins)
    }
    ASSERT_EQ(z.result, m.result);
    ASSERT_EQ(z.rest, m.rest);
    EXPECT_EQ(z.result, u"<td>" + text::int16(i) + u"</td>");
    s = z.rest;
    model = m.rest;
  }
  EXPECT_EQ(s.find(u"<td>", 0, nullptr), u16view::npos);
  u16 left = u"<table>";
  for (int i = 0; i < 20; ++i) left += u"<tr>";
  EXPECT_EQ(s, left);
}

// ----- random programs against a plain model

namespace {

u16 esc(u16view s) { return apply_escapes(s); }

// Zones as plain texts: search the folded copy, cut from the original.
struct PlainZone {
  u16 result, rest;
};
PlainZone plain_zone(const u16 &s, const u16 &a, const u16 &b, const u16 &option, bool fold) {
  auto folded = [&](const u16 &x) { return fold ? fold_case(x) : x; };
  u16 t = folded(s), fa = folded(a), fb = folded(b);
  std::size_t start = 1, end = s.size() + 1;
  if (!fa.empty()) {  // an empty condition is absent
    std::size_t p = t.find(fa);
    if (p == u16::npos) return {u16(), s};
    start = p + 1;
  }
  if (!fb.empty()) {
    std::size_t p = start < t.size() ? t.find(fb, start) : u16::npos;
    if (p == u16::npos) return {u16(), s};
    end = p + 1;
  }
  if (!(option == u"[++]" || option == u"[+-]")) start += fa.size();
  if (option == u"[++]" || option == u"[-+]") end += fb.size();
  end = std::min(end, s.size() + 1);
  PlainZone z;
  if (start < end) z.result = s.substr(start - 1, end - start);
  z.rest = s.substr(0, std::min(start - 1, s.size()));
  if (end - 1 < s.size()) z.rest += s.substr(std::max(end - 1, start - 1));
  return z;
}

struct Model {
  std::map<u16, u16> vars;
  std::map<u16, Lines> lists;
  u16 work, rem, option;
  bool join = false;
  void deliver(const u16 &result, const u16 &rest) {
    if (join) {
      work += result;
      rem += rest;
    } else {
      work = result;
      rem = rest;
    }
    join = false;
  }
  void deliver(const u16 &result) {  // a result without a rest
    if (join) work += result;
    else work = result;
    join = false;
  }
  void store(const u16 &name, const u16 &value) {
    work = value;
    vars[name] = value;
  }
};

class RandomPrograms : public velmora::testing::EngineTest {};

}  // namespace

TEST_F(RandomPrograms, ZonesStoresJoinsAndListsMatchThePlainModel) {
  std::mt19937 rng(20261209);
  auto pick = [&](int n) { return int(rng() % unsigned(n)); };
  const std::vector<u16> names = {u"&A", u"&B", u"&C", u"&D"};
  const std::vector<u16> conditions = {u"<", u">", u"<t", u"d>", u"\\q", u"\\n", u"ab", u"T", u"\\"};
  const std::vector<u16> options = {u"[++]", u"[+-]", u"[-+]", u"[--]"};
  auto constant = [&] {
    static const char16_t alphabet[] = u"ab<>tdTDn\\q/x";
    u16 s;
    int n = pick(12);
    for (int i = 0; i < n; ++i) s += alphabet[pick(13)];
    return s;
  };
  for (int program = 0; program < 300; ++program) {
    Model m;
    m.rem = e.task(0).STR_REM.str();  // the rest register is kept from run to run
    std::vector<u16> code;
    for (const u16 &n : names) m.vars[n];
    m.lists[u"&L"];
    const int steps = 10 + pick(30);
    for (int step = 0; step < steps; ++step) {
      const u16 &x = names[std::size_t(pick(4))], &y = names[std::size_t(pick(4))];
      switch (pick(10)) {
        case 0: {  // a constant: escapes apply when the program is loaded
          u16 c = constant();
          code.push_back(u"045 Σ " + x + u" = Ω \"" + c + u"\"");
          m.store(x, esc(c));
          break;
        }
        case 1:
          code.push_back(u"045 Σ " + x + u" = Σ " + y);
          m.store(x, esc(m.vars[y]));
          break;
        case 2:
          code.push_back(u"046 Σ " + x + u" += Σ " + y);
          m.store(x, m.vars[x] + esc(m.vars[y]));
          break;
        case 3: {
          u16 c = constant();
          code.push_back(u"046 Σ " + x + u" += Ω \"" + c + u"\"");
          m.store(x, m.vars[x] + esc(c));
          break;
        }
        case 4:
        case 5:
        case 6: {  // a zone, sometimes joined to what the registers hold
          if (pick(3) == 0) {
            code.push_back(u"311 Σ " + y);
            m.deliver(esc(m.vars[y]));
            code.push_back(u"312 +");
            m.join = true;
          }
          if (pick(2) == 0) {
            m.option = options[std::size_t(pick(4))];
            code.push_back(u"337 " + m.option);
          }
          bool fold = pick(3) == 0;
          if (fold) code.push_back(u"338 [^]");
          const u16 &a = conditions[std::size_t(pick(9))], &b = conditions[std::size_t(pick(9))];
          code.push_back(u"318 Σ " + x + u" < Ω \"" + a + u"\" -> Ω \"" + b + u"\" >");
          PlainZone z = plain_zone(esc(m.vars[x]), esc(a), esc(b), m.option, fold);
          m.deliver(z.result, z.rest);
          if (pick(4) != 0) {  // most often cut into two variables, the rest back into x
            const u16 &into = names[std::size_t(pick(4))];
            code.push_back(u"329 Σ " + into + u" , Σ " + x);
            u16 result = m.work, rest = m.rem;
            m.store(into, result);
            m.store(x, rest);
          } else {
            code.push_back(u"320 Σ " + y + u" =");
            m.store(y, m.work);
          }
          break;
        }
        case 7:
          code.push_back(u"301 Σ &L [] += Σ " + x);
          m.lists[u"&L"].push_back(esc(m.vars[x]));
          break;
        case 8: {
          long n = pick(4);
          code.push_back(u"310 Σ &L [ Δ " + text::int16(n) + u" ]");
          const Lines &l = m.lists[u"&L"];
          if (n < long(l.size())) m.deliver(l[std::size_t(n)], u"");
          else if (m.join) m.join = false;
          else m.work.clear();
          code.push_back(u"320 Σ " + x + u" =");
          m.store(x, m.work);
          break;
        }
        default:
          code.push_back(u"320 Σ " + x + u" =");
          m.store(x, m.work);
          break;
      }
    }
    Lines lines;
    int n = 1;
    for (const u16 &c : code) {
      u16 number = text::int16(n++);
      lines.push_back(u16(5 - number.size(), u'0') + number + u" " + c);
    }
    execute(lines, {u"&A", u"&B", u"&C", u"&D", u"&L"});
    ASSERT_EQ(e.task(0).STR_REM.view(), m.rem) << "program " << program;
    ASSERT_FALSE(e.errorFlag()) << text::to_utf8(e.errorMessage());
    u16 listing;
    for (const u16 &c : code) listing += c + u"\n";
    for (const u16 &name : names)
      ASSERT_EQ(var(name.c_str()).StrVal.view(), m.vars[name])
          << "program " << program << ", " << text::to_utf8(name) << ":\n"
          << text::to_utf8(listing);
    ASSERT_EQ(e.task(0).STR_WORK.view(), m.work) << text::to_utf8(listing);
    ASSERT_EQ(var(u"&L").StrList, m.lists[u"&L"]) << text::to_utf8(listing);
  }
}

// Short pieces are held in the value itself: every operation on them gives
// what it gives on a buffer, and they share nothing.
TEST(StrValue, ShortPiecesHeldInTheValueBehaveAsBufferedOnes) {
  const u16 text = long_text(1000);
  StrValue s(text);
  StrValue cell = s.slice(10, StrValue::kSmall);
  EXPECT_TRUE(cell.isSmall());
  EXPECT_FALSE(cell.sharesBufferWith(s));
  EXPECT_EQ(cell, u16view(text).substr(10, StrValue::kSmall));
  EXPECT_FALSE(s.slice(10, StrValue::kSmall + 1).isSmall());
  EXPECT_EQ(cell.slice(3, 4), u16view(text).substr(13, 4));
  EXPECT_EQ(cell.find(u"pq", 0, nullptr), 5u);
  EXPECT_EQ(cell.find(u"PQ", 6, fold_char), u16view::npos);
  // Growing past the short length moves it into a buffer, which then grows
  // in place; copies taken on the way keep their characters.
  StrValue grown = s.slice(0, 3);
  std::vector<std::pair<StrValue, u16>> copies;
  u16 model = text.substr(0, 3);
  for (int i = 0; i < 30; ++i) {
    copies.emplace_back(grown, model);
    grown.append(i % 3 == 0 ? grown.view().substr(0, 2) : u16view(u"+"));
    model += i % 3 == 0 ? model.substr(0, 2) : u"+";
    ASSERT_EQ(grown, model) << i;
    EXPECT_EQ(grown.isSmall(), model.size() <= StrValue::kSmall) << i;
  }
  for (const auto &[copy, was] : copies) EXPECT_EQ(copy, was);
  // Two short values joined; a short head before a long tail.
  StrValue ab = StrValue::concat(s.slice(0, 5), s.slice(20, 5));
  EXPECT_TRUE(ab.isSmall());
  EXPECT_EQ(ab, text.substr(0, 5) + text.substr(20, 5));
  StrValue two = StrValue::concat(s.slice(0, 5), s.slice(500, 400));
  EXPECT_TRUE(two.isTwoPart());
  EXPECT_EQ(two, text.substr(0, 5) + text.substr(500, 400));
  // A moved-from value is empty.
  StrValue moved = std::move(cell);
  EXPECT_EQ(moved.size(), StrValue::kSmall);
  EXPECT_TRUE(cell.empty());  // NOLINT(bugprone-use-after-move)
  // A buffered value that no longer ends at its fill mark becomes short
  // when appended to.
  StrValue a(u16(u"abcd"));
  StrValue b = a;
  a.append(u"e");
  b.append(u"X");
  EXPECT_TRUE(b.isSmall());
  EXPECT_EQ(a, u"abcde");
  EXPECT_EQ(b, u"abcdX");
}

// The escape rule on short values: a pair or a trailing backslash at every
// position, inside one short value and across a short head and its tail.
TEST(StrValue, EscapesOfShortValuesAtEveryPosition) {
  for (std::size_t n = 1; n <= StrValue::kSmall; ++n)
    for (std::size_t at = 0; at < n; ++at)
      for (char16_t after : {u'n', u'q', u'x', u'\\'}) {
        u16 text(n, u'a');
        text[at] = u'\\';
        if (at + 1 < n) text[at + 1] = after;
        StrValue whole(text + u16(40, u'-'));
        StrValue piece = whole.slice(0, n);
        ASSERT_TRUE(piece.isSmall());
        ASSERT_EQ(piece.escapeFree(), apply_escapes(text) == text) << n << " " << at;
        ASSERT_EQ(piece.escaped(), apply_escapes(text)) << n << " " << at;
        StrValue joined = StrValue::concat(piece, whole.slice(n, 40));
        const u16 all = text + u16(40, u'-');
        ASSERT_EQ(joined.escapeFree(), apply_escapes(all) == all) << n << " " << at;
        ASSERT_EQ(joined.escaped(), apply_escapes(all));
      }
}

// A short value's storage beyond its length is not its text: characters
// left there by an earlier, longer value (a cleared value appended to, a
// value assigned from one that held more) never count as escape pairs.
TEST(StrValue, CharactersPastTheEndOfAShortValueAreNotItsText) {
  for (std::size_t n = 1; n < StrValue::kSmall; ++n) {
    StrValue v = StrValue::copyOf(u"\\n\\n\\n\\n\\n\\n\\n\\n");
    ASSERT_TRUE(v.isSmall());
    ASSERT_FALSE(v.escapeFree());
    v.clear();
    v.append(u16(n, u'a'));
    EXPECT_TRUE(v.escapeFree()) << n;
    EXPECT_EQ(v.escaped(), u16(n, u'a')) << n;
    // The same after a pair cut off at the end: "aa\" then "n" past it.
    StrValue cut = StrValue::copyOf(u16(n - 1, u'a') + u"\\n" + u16(StrValue::kSmall - n - 1, u'b'));
    StrValue head = cut.slice(0, n);
    EXPECT_EQ(head.escapeFree(), false) << n;  // a trailing backslash is dropped
    EXPECT_EQ(head.escaped(), u16(n - 1, u'a')) << n;
    StrValue copy = StrValue::copyOf(u16(n, u'c'));
    copy = head.slice(0, n - 1);
    EXPECT_TRUE(copy.escapeFree()) << n;
  }
}
