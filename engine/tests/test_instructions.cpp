// The instruction table: one row per instruction, and everything that reads
// it (handler registration, loader, listing, hot form) agrees with it.
#include <set>
#include <string>

#include "engine/listing.h"
#include "engine/opcodes.h"
#include "engine/tests/machine_fixture.h"

using namespace velmora;
using namespace velmora::engine;
using velmora::testing::tcode;

namespace {

constexpr std::uint32_t kNothingOnPurpose = ifNoAction | ifLabel | ifFunction | ifNotLoaded;

}  // namespace

TEST(InstructionTable, EveryRowHasAHandlerOrDoesNothingOnPurpose) {
  Machine e;
  for (const InstructionRow &row : kInstructionRows) {
    const bool quiet = (row.flags & kNothingOnPurpose) != 0;
    const bool bound = e.handler(row.code) != nullptr;
    EXPECT_NE(bound, quiet) << row.name << " (" << row.code << ")"
                            << (bound ? ": bound but marked as doing nothing"
                                      : ": neither bound nor marked as doing nothing");
  }
  // No handler is bound to a code without a row.
  for (int code = 0; code < 1000; ++code)
    if (e.handler(code)) {
      EXPECT_NE(instruction_row(code), nullptr) << code;
    }
}

TEST(InstructionTable, CodesAndNamesAreUniqueAndRowsAreWellFormed) {
  std::set<int> codes;
  std::set<std::string> names;
  for (const InstructionRow &row : kInstructionRows) {
    EXPECT_TRUE(codes.insert(row.code).second) << "code " << row.code << " twice";
    EXPECT_TRUE(names.insert(row.name).second) << row.name << " twice";
    EXPECT_GE(row.code, kKindLowest);
    EXPECT_LT(row.code, kKindLowest + kKindCount);
    EXPECT_NE(std::string(row.description), "") << row.name;
    // A mark has a slot and a slot has a mark.
    EXPECT_EQ(row.mark[0] != '\0', row.markSlot != 0) << row.name;
    EXPECT_LE(row.markSlot, 9) << row.name;
    EXPECT_EQ(instruction_row(row.code), &row);
    EXPECT_EQ(instruction_flags(row.code), row.flags);
    // The optional NOT and the NOT slot go together.
    EXPECT_EQ((row.flags & ifOptionalNot) != 0, std::string(row.layout).rfind("N", 0) == 0) << row.name;
  }
  EXPECT_EQ(std::string(code_digits(opRET).text), "096");
  EXPECT_EQ(std::string(code_digits(opFUNCTION_ENTRY).text), "902");
  EXPECT_EQ(instruction_flags(5000), 0u);
  EXPECT_EQ(instruction_flags(-3), 0u);
}

TEST(InstructionTable, TheLoaderTakesExactlyTheLoadableRows) {
  for (const InstructionRow &row : kInstructionRows) {
    if (row.code < 0) continue;
    const bool loadable = !(row.flags & (ifBreak | ifNotLoaded));
    const OpcodeInfo *info = opcode_info(row.code);
    ASSERT_EQ(info != nullptr, loadable) << row.name;
    if (!info) continue;
    EXPECT_EQ(info->row, &row);
    EXPECT_EQ(info->markSlot, row.markSlot);
    EXPECT_EQ(info->optionalNot, (row.flags & ifOptionalNot) != 0);
  }
  // A code between the rows is dropped.
  EXPECT_EQ(opcode_info(9), nullptr);
  EXPECT_EQ(opcode_info(opBREAKPOINT), nullptr);
}

class InstructionListing : public velmora::testing::MachineTest {};

TEST_F(InstructionListing, LinesKeepTheirFormatForEveryKindOfRecord) {
  int slot = load(tcode({u"F_F", u"000 NOT ∇ A <= Δ 3", u"098 xFJMP 2", u"L_2 IF", u"096 ", u"810 LIB X xDMY xDMY 7",
                         u"902 xFUNC"}),
                  {u"A"});
  ASSERT_GE(slot, 0);
  Lines listing = slot_listing(e, slot);
  ASSERT_EQ(listing.size(), 7u);
  EXPECT_EQ(listing[0], u"00001 -002 F_F         ");
  EXPECT_EQ(listing[1], u"00002 0000 NOT ∇ A <= Δ 3    ");
  EXPECT_EQ(listing[2], u"00003 0098 2 [JMP-IF-FALSE]        ");
  EXPECT_EQ(listing[3], u"00004 -001 L_2         ");
  EXPECT_EQ(listing[4], u"00005 0096 [RET]         ");
  EXPECT_EQ(listing[5], u"00006 0810 X 7 0   [LIB EXEC 0]    ");
  EXPECT_EQ(listing[6], u"00007 0902      [FUNCTION DEF]    ");
}

TEST_F(InstructionListing, BreakRecordsComeOnlyFromTheDebugger) {
  int slot = load(tcode({u"900 1", u"001"}));
  ASSERT_GE(slot, 0);
  // The T-code line of a break record is dropped like an unknown code.
  Lines listing = slot_listing(e, slot);
  ASSERT_EQ(listing.size(), 1u);
  EXPECT_EQ(listing[0], u"00002 0001 [TRUE]         ");
}

TEST(InstructionTable, CaptionsNameTheInstructionForTheDebugger) {
  EXPECT_EQ(instruction_caption(opJMP_IF_FALSE), u"JMP_IF_FALSE: jump to label Param[1] if FLAG is false");
  EXPECT_EQ(instruction_caption(opLABEL).substr(0, 7), u"LABEL: ");
  EXPECT_EQ(instruction_caption(9), u"");
}
