#pragma once
// The engine-wide variable table: 5,000 entries, each owned by one task slot
// or shared by all.
#include <memory>
#include <unordered_map>

#include "engine/line_list.h"
#include "engine/numeric.h"
#include "engine/str_value.h"
#include "engine/types.h"

namespace velmora::engine {

struct MatrixStore {
  long double m[kMatrixSize][kMatrixSize] = {};
};

// A variable's number: the long double every reader sees and, beside it,
// the same value as a 64-bit integer while it is exactly one. The hot
// handlers add, subtract, multiply and compare whole numbers on the
// integers, where the result is exact and so the very long double that
// long double arithmetic gives; they never wait for an 80-bit value just
// stored to be loaded back. Every other write goes through the assignment,
// which works out the integer form again.
struct VarNumber {
  long double value = 0;
  int64_t whole = 0;
  bool isWhole = true;
  operator long double() const { return value; }
  VarNumber &operator=(long double x) {
    value = x;
    isWhole = whole_of(x, whole);
    return *this;
  }
  void setWhole(int64_t w) {
    value = static_cast<long double>(w);
    whole = w;
    isWhole = true;
  }
};

struct TVarInfo {
  u16 name;  // empty when free
  bool share = false;
  int32_t Slot = -1;
  TVarType kind = vtSCALAR;
  VarNumber Val1;
  long double Val2 = 0, Val3 = 0;
  StrValue StrVal;
  LineList StrList;
  // Matrix storage, 21 x 21, allocated on first use: most variables never
  // hold a matrix, and 5,000 of them would otherwise take 35 MB.
  std::unique_ptr<MatrixStore> Mat;
  int32_t MatRow = 0, MatCol = 0;

  long double matAt(int r, int c) const { return Mat ? Mat->m[r][c] : 0.0L; }
  void matSet(int r, int c, long double v) {
    if (!Mat) Mat = std::make_unique<MatrixStore>();
    Mat->m[r][c] = v;
  }
  void clearValues();
};

class VariableTable {
 public:
  // The table's storage is taken whole at once (its place never changes, so
  // references to entries stay valid) but entries are made only as they are
  // first reached: a run touches the memory of the entries it uses, not of
  // all 5,001. An entry not made yet is free and holds nothing.
  VariableTable() { entries_.reserve(kVariables + 1); }
  VariableTable(const VariableTable &) = delete;
  VariableTable &operator=(const VariableTable &) = delete;

  // Registers a name for a slot (shared or the slot's own); false only when
  // the table is full. `added` receives the entry a new name took (-1 when
  // the name was there already), so a failed registration can take it back.
  bool registerName(bool shared, u16view name, int slot, int *added = nullptr);
  // Frees one entry, shared or not (a registration taken back).
  void releaseEntry(int entry);
  // Frees every entry of the slot that is not shared.
  void releaseSlot(int slot);
  // The lookup rule: the first entry in table order with exactly this name
  // whose owner is the slot or that is shared; -1 when there is none.
  int find(int slot, u16view name) const;
  // A variable reference: a text beginning with a digit is a variable number
  // written by the link step, anything else a name looked up for the slot.
  int resolve(int slot, u16view ref) const;
  // The name of a variable number given as text; empty if not a number.
  u16 nameOfNumber(u16view number) const;
  int countFree() const;
  void clearValues();
  void clearAll();

  // Every entry number the table hands out (registerName, find, resolve)
  // is made by then, so the engine's reads take no check.
  TVarInfo &operator[](int i) { return entries_[std::size_t(i)]; }
  const TVarInfo &operator[](int i) const {
    return std::size_t(i) < entries_.size() ? entries_[std::size_t(i)] : unmade();
  }
  int size() const { return kVariables; }

 private:
  // Mutable: making an entry does not change what the table holds (an
  // entry not made reads as a free one).
  mutable std::vector<TVarInfo> entries_;
  // Name -> entry numbers in ascending table order, kept in step with
  // registration and release, so a lookup visits only entries of that name.
  std::unordered_map<u16, std::vector<int>> index_;

  void unindex(const u16 &name, int entry);
  // Makes the entries up to i (at most the table's last entry).
  void makeUpTo(int i) const;
  // What an entry not made yet reads as: free and empty.
  static const TVarInfo &unmade();
};

}  // namespace velmora::engine
