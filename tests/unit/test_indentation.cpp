// The editors' indentation: a step in after a line that opens a block, a
// step back for END, ELSE and ENDFUNC.
#include <gtest/gtest.h>

#include "environment/indentation.h"

using namespace velmora;
using namespace velmora::environment;

TEST(Indentation, BlockOpenersIndentTheNextLine) {
  EXPECT_EQ(indentAfter(u"FOR I = 1 TO 10 DO", 2), u"  ");
  EXPECT_EQ(indentAfter(u"  while x < 3 do   // count", 2), u"    ");
  EXPECT_EQ(indentAfter(u"IF A > 0 THEN", 4), u"    ");
  EXPECT_EQ(indentAfter(u"ELSE", 2), u"  ");
  EXPECT_EQ(indentAfter(u"FUNCTION TICK;", 2), u"  ");
  EXPECT_EQ(indentAfter(u"EACH &B[z] do", 2), u"  ");
  // Lines that open nothing keep their indentation.
  EXPECT_EQ(indentAfter(u"   A = 1;", 2), u"   ");
  EXPECT_EQ(indentAfter(u"WHILE T < 3 DO WAIT 1; END", 2), u"");
  EXPECT_EQ(indentAfter(u"IF A THEN ??\"x\"; END", 2), u"");
  EXPECT_EQ(indentAfter(u"??\"DO\";", 2), u"");          // inside a string
  EXPECT_EQ(indentAfter(u"A = 1; // then DO", 2), u"");  // inside a comment
  EXPECT_EQ(indentAfter(u"X = UNDO", 2), u"");           // part of a name
  EXPECT_EQ(indentAfter(u"FUNCTIONS = 2;", 2), u"");
}

TEST(Indentation, ClosingWordsStepBack) {
  EXPECT_EQ(dedentClosing(u"  END", 2), u"END");
  EXPECT_EQ(dedentClosing(u"      end", 4), u"  end");
  EXPECT_EQ(dedentClosing(u"  ELSE", 2), u"ELSE");
  EXPECT_EQ(dedentClosing(u"  ENDFUNC", 2), u"ENDFUNC");
  // Nothing to take back, or no closing word alone.
  EXPECT_EQ(dedentClosing(u"END", 2), u"END");
  EXPECT_EQ(dedentClosing(u" END", 2), u" END");
  EXPECT_EQ(dedentClosing(u"  ENDING = 1;", 2), u"  ENDING = 1;");
  EXPECT_EQ(dedentClosing(u"  A = 1; END", 2), u"  A = 1; END");
}
