#include "engine/variables.h"

#include <algorithm>

namespace velmora::engine {

void TVarInfo::clearValues() {
  Val1 = Val2 = Val3 = 0;
  StrVal.clear();
  StrList.clear();
  MatRow = MatCol = 0;
  Mat.reset();
}

bool VariableTable::registerName(bool shared, u16view name, int slot, int *added) {
  if (added) *added = -1;
  u16 key(name.substr(0, kNameLength));
  auto it = index_.find(key);
  if (it != index_.end()) {
    if (shared && !it->second.empty()) return true;
    for (int e : it->second)
      if (entries_[std::size_t(e)].Slot == slot) return true;
  }
  for (int e = 0; e < kVariables; ++e) {
    if (std::size_t(e) >= entries_.size()) makeUpTo(e);
    TVarInfo &v = entries_[std::size_t(e)];
    if (!v.name.empty()) continue;
    v.name = key;
    v.share = shared;
    v.Slot = slot;
    v.kind = key.empty() ? vtSCALAR : key[0] == u'$' ? vtVECTOR : key[0] == u'&' ? vtSTRING : vtSCALAR;
    v.Val1 = v.Val2 = v.Val3 = 0;
    auto &list = index_[key];
    list.insert(std::upper_bound(list.begin(), list.end(), e), e);
    if (added) *added = e;
    return true;
  }
  return false;
}

void VariableTable::unindex(const u16 &name, int entry) {
  auto it = index_.find(name);
  if (it == index_.end()) return;
  auto &list = it->second;
  list.erase(std::remove(list.begin(), list.end(), entry), list.end());
  if (list.empty()) index_.erase(it);
}

void VariableTable::releaseSlot(int slot) {
  for (int e = 0; e < int(entries_.size()) && e < kVariables; ++e) {
    const TVarInfo &v = entries_[std::size_t(e)];
    if (v.Slot != slot || v.share || v.name.empty()) continue;
    releaseEntry(e);
  }
}

void VariableTable::releaseEntry(int e) {
  if (e < 0 || e >= int(entries_.size()) || e >= kVariables) return;
  TVarInfo &v = entries_[std::size_t(e)];
  if (v.name.empty()) return;
  unindex(v.name, e);
  v.name.clear();
  v.share = false;
  v.Slot = -1;
  v.kind = vtSCALAR;
  v.Val1 = v.Val2 = v.Val3 = 0;
  v.StrVal.clear();
  v.StrList.clear();
}

int VariableTable::find(int slot, u16view name) const {
  auto it = index_.find(u16(name));
  if (it == index_.end()) return -1;
  for (int e : it->second) {
    const TVarInfo &v = entries_[std::size_t(e)];
    if (v.Slot == slot || v.share) return e;
  }
  return -1;
}

int VariableTable::resolve(int slot, u16view ref) const {
  if (!ref.empty() && text::is_ascii_digit(ref[0])) {
    long n = 0;
    for (char16_t c : ref) {
      if (!text::is_ascii_digit(c) || n > kVariables) return -1;
      n = n * 10 + (c - u'0');
    }
    if (n >= kVariables) return -1;
    makeUpTo(int(n));
    return int(n);
  }
  return find(slot, ref);
}

u16 VariableTable::nameOfNumber(u16view number) const {
  if (number.empty()) return {};
  long n = 0;
  for (char16_t c : number) {
    if (!text::is_ascii_digit(c) || n > kVariables) return {};
    n = n * 10 + (c - u'0');
  }
  return n <= kVariables ? (*this)[int(n)].name : u16();
}

void VariableTable::makeUpTo(int i) const {
  std::size_t last = std::min<std::size_t>(std::size_t(i), kVariables);
  while (entries_.size() <= last) entries_.emplace_back();
}

const TVarInfo &VariableTable::unmade() {
  static const TVarInfo empty;
  return empty;
}

int VariableTable::countFree() const {
  int n = kVariables + 1 - int(entries_.size());
  for (const TVarInfo &v : entries_)
    if (v.name.empty()) ++n;
  return n;
}

void VariableTable::clearValues() {
  for (TVarInfo &v : entries_) v.clearValues();
}

void VariableTable::clearAll() {
  for (TVarInfo &v : entries_) {
    v.clearValues();
    v.name.clear();
    v.share = false;
    v.Slot = -1;
    v.kind = vtSCALAR;
  }
  index_.clear();
}

}  // namespace velmora::engine
