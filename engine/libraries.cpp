// Library calls: LIB loads a shared library under an alias, LIBA declares a
// function of it, "alias :: function ( argument )" calls a function with one
// pointer to the argument's NUL-terminated UTF-16 text, which the function
// may change in place; the changed text becomes the string result.
//
// A relative library path is taken relative to the program's own directory.
// Every library is released when all tasks stop and when a run starts.
#include <dlfcn.h>

#include "engine/machine.h"
#include "engine/families.h"
#include "engine/registers.h"

namespace velmora::engine {

namespace {

using LibraryFunction = void (*)(char16_t *);

int library_of(const Machine &e, u16view alias) {
  for (int i = 0; i < kLibraries; ++i)
    if (e.libraries[std::size_t(i)].handle && e.libraries[std::size_t(i)].DLLAlias == alias) return i;
  return -1;
}

void op_library_define(Machine &e, TTaskInfo &, const TPEXE &r) {
  const u16 alias = r.Param[1];
  u16 path = e.rawStr(r, 2);
  if (e.errorFlag) return;
  int free = -1;
  for (int i = 0; i < kLibraries && free < 0; ++i)
    if (e.libraries[std::size_t(i)].DLLAlias.empty()) free = i;
  if (free < 0) return e.runtimeError(u"  - DLL:DLLファイルが多すぎます");
  for (const TDLLInfo &lib : e.libraries)
    if (!lib.DLLAlias.empty() && lib.DLLAlias == alias) return e.runtimeError(u"  - DLL:別名が重複しています");
  std::filesystem::path file(text::to_utf8(path));
  if (file.is_relative()) file = e.homeDirectory / file;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return e.runtimeError(u"  - DLL:ライブラリファイルが存在しません");
  if (!e.permitted(Permission::Libraries, u"LIB", text::from_utf8(file.string()))) return;
  // Loading reads the file: outside the data directory that is a read
  // outside, for a run that may not read there.
  if (e.readConfined() && !path_inside(file, e.dataDirectory) &&
      !e.permitted(Permission::FilesRead, u"LIB", text::from_utf8(file.string())))
    return;
  void *handle = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) return e.runtimeError(u"  - DLL:ライブラリファイルがオープンできません");
  TDLLInfo &lib = e.libraries[std::size_t(free)];
  lib.handle = handle;
  lib.DLLAlias = alias;
  lib.Path = text::from_utf8(file.string());
  e.setString(alias, lib.Path);
}

void op_function_define(Machine &e, TTaskInfo &, const TPEXE &r) {
  const u16 alias = r.Param[2];
  u16 name = e.rawStr(r, 3);
  u16 widths = e.rawStr(r, 5);
  if (e.errorFlag) return;
  int lib = library_of(e, alias);
  if (lib < 0) return e.runtimeError(u"  - DLL:エイリアスが登録されていません");
  void *symbol = dlsym(e.libraries[std::size_t(lib)].handle, text::to_utf8(name).c_str());
  if (!symbol) return e.runtimeError(u"  - DLL:指定関数がＤＬＬ内で見つかりません");
  int free = -1;
  for (int i = 0; i < kLibraryFunctions && free < 0; ++i)
    if (!e.libraryFunctions[std::size_t(i)].handle) free = i;
  if (free < 0) return e.runtimeError(u"  - DLL:使用する関数が多すぎます");
  for (const TDLLProcInfo &f : e.libraryFunctions)
    if (f.handle && f.DLLAlias == alias && f.ProcName == name)
      return e.runtimeError(u"  - DLL:関数定義が重複しています");
  TDLLProcInfo &f = e.libraryFunctions[std::size_t(free)];
  f.handle = e.libraries[std::size_t(lib)].handle;
  f.DLLAlias = alias;
  f.ProcName = name;
  f.ArgDef = widths;
  f.ArgCount = int32_t(widths.size());
}

void op_library_call(Machine &e, TTaskInfo &t, const TPEXE &r) {
  u16 argument = e.str(r, 4);
  int functionVar = e.varOf(r, 2);
  if (e.errorFlag) return;
  if (functionVar < 0) return e.undefinedError(r.Param[2]);
  int lib = library_of(e, r.Param[1]);
  if (lib < 0) return e.runtimeError(u"  - DLL:エイリアスが登録されていません");
  std::string name = text::to_utf8(e.vars[functionVar].StrVal);
  auto f = reinterpret_cast<LibraryFunction>(dlsym(e.libraries[std::size_t(lib)].handle, name.c_str()));
  if (!f) return e.runtimeError(u"  - DLL:指定関数がＤＬＬ内で見つかりません");
  if (!e.permitted(Permission::Libraries, u"::", e.libraries[std::size_t(lib)].Path)) return;
  // The function may change the text in place, never lengthen it.
  std::u16string buffer = argument;
  buffer.push_back(u'\0');
  // The call blocks the run loop until it returns; the environment says so
  // first, since nothing can interrupt it.
  e.host->Library_Call_Starting(e.vars[functionVar].StrVal);
  f(buffer.data());
  e.host->Library_Call_Ended();
  buffer.resize(std::char_traits<char16_t>::length(buffer.data()));
  deliver_string(t, std::move(buffer));
}

}  // namespace

void Machine::resetLibraries() {
  for (TDLLInfo &lib : libraries) {
    if (lib.handle) dlclose(lib.handle);
    lib = TDLLInfo{};
  }
  for (TDLLProcInfo &f : libraryFunctions) f = TDLLProcInfo{};
}

void register_libraries(Machine &e) {
  e.setHandler(opLIB_DEFINE, op_library_define);
  e.setHandler(opLIB_FUNCTION_DEFINE, op_function_define);
  e.setHandler(opLIB_CALL_1, op_library_call);
}

}  // namespace velmora::engine
