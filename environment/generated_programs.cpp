#include "environment/generated_programs.h"

#include "environment/environment.h"

#include <algorithm>
#include <utility>
#include "text/lines.h"

namespace velmora::environment {

u16 escaped_marker(u16view text) {
  u16 out = u"\"";
  for (char16_t c : text) {
    if (c == u'"') out += u"\"+char(34)+\"";
    else out += c;
  }
  return out + u"\"";
}

Lines extraction_program(const ExtractionSpec &spec, int sourcePage) {
  Lines p = {u"//", u"//<Extractor Generated Code>", u"//", u"//Source : " + spec.sourcePath, u"//"};
  if (spec.webAccess) p.push_back(u"&_SRC[]=<*> " + spec.encoding + u" \"" + spec.sourcePath + u"\";");
  else p.push_back(u"&_SRC[]=[#" + text::int16(sourcePage) + u"];");
  for (const char16_t *l : {u"//", u"_OUT=[#].NEW;", u"//"}) p.push_back(l);
  for (std::size_t i = 0; i < spec.rows.size(); ++i) {
    const ExtractionRow &row = spec.rows[i];
    const u16 r = text::int16(long(i) + 1);
    p.push_back(u"//");
    p.push_back(u"//#" + r + u" Conds");
    for (int c = 2; c <= 21 && !row.markers[std::size_t(c - 2)].empty(); ++c)
      p.push_back(u"//#" + r + u"#" + text::int16(c - 1) + u" " + row.markers[std::size_t(c - 2)]);
    if (row.markers[0].empty()) break;
    p.push_back(u"//");
    p.push_back(u"&_EXTR_" + r + u"[]=&_SRC[];");
    auto start = [&](int c) { return u"&_R" + r + u"C" + text::int16(c); };
    auto end = [&](int c) { return u"&_R" + r + u"C" + text::int16(c + 1); };
    if (row.mode != u"0") {
      p.push_back(u"//[Repeat]");
      for (int c = 2; c < 22 && !row.markers[std::size_t(c - 2)].empty(); c += 2) {
        p.push_back(u"while true do");
        p.push_back(u"  " + start(c) + u"=" + escaped_marker(row.markers[std::size_t(c - 2)]) + u";");
        p.push_back(u"  " + end(c) + u"=" + escaped_marker(row.markers[std::size_t(c - 1)]) + u";");
        p.push_back(u"  &_L[],&_R[]=[++]&_EXTR_" + r + u"[" + start(c) + u"->" + end(c) + u"];");
        for (const char16_t *l : {u"  if &_L[] then ", u"    // call タグ除去;", u"    [#_OUT] ++&_L[];"})
          p.push_back(l);
        p.push_back(u"    &_EXTR_" + r + u"[]=&_R[];");
        for (const char16_t *l : {u"  else", u"    break;", u"  end", u"end"}) p.push_back(l);
      }
    } else {
      p.push_back(u"//[Nest]");
      for (int c = 2; c < 22 && !row.markers[std::size_t(c - 2)].empty(); c += 2) {
        p.push_back(start(c) + u"=" + escaped_marker(row.markers[std::size_t(c - 2)]) + u";");
        p.push_back(end(c) + u"=" + escaped_marker(row.markers[std::size_t(c - 1)]) + u";");
        p.push_back(u"&_EXTR_" + r + u"[]=[++]&_EXTR_" + r + u"[" + start(c) + u"->" + end(c) + u"];");
      }
      p.push_back(u"[#_OUT] ++ &_EXTR_" + r + u"[];");
    }
  }
  for (const char16_t *l :
       {u"//[auxiliary]", u"function タグ除去;", u"each &_L[k] do", u"   &W = &_L[k];", u"   &R = \"\";",
        u"   while &W do", u"      &L,&R= &W<\"<\"->\">\">;", u"      if &L then &W = &R;", u"      else break; end",
        u"   end", u"   &_L[k]=&R;", u"end", u"endfunc"})
    p.push_back(l);
  return p;
}

// A tool's program runs as a run of its slot alone: started here, driven by
// runSlice like every run (the window's event loop, or runToEnd), stopped by
// "■". The tool's own work after the run (its temporary tab closed, the
// fetched page kept) is done when the run has ended, whichever way it ended;
// at once when the run did not start.
RunResult Environment::startToolRun(int slot, std::function<void(RunResult)> finish) {
  const RunResult started = slot >= 0 ? startSlotAlone(slot) : RunResult::NotStarted;
  if (started == RunResult::Running) afterRun_ = std::move(finish);
  else if (finish) finish(started);
  return started;
}

void Environment::finishToolRun() {
  if (!afterRun_) return;
  auto finish = std::exchange(afterRun_, {});
  finish(runLoop.result());
}

RunResult Environment::startSystemProgram(const Lines &program, bool keepTab, std::function<void(RunResult)> then) {
  if (!mayStart(Command::Tool)) return RunResult::NotStarted;
  if (!workspace.roomForAnotherTab()) return RunResult::NotStarted;
  int tab = tabs.loadLines(program, ui);
  if (tab < 0) return RunResult::NotStarted;
  // The generated program runs alone: the user's programs in the other
  // slots are not started by a tool.
  const int slot = compileDriver.compileActiveTab();
  return startToolRun(slot, [this, tab, keepTab, then = std::move(then)](RunResult result) {
    if (tabs.at(tab).inUse) tabs.at(tab).modified = false;
    if (!keepTab) workspace.closeTab(tab);
    if (then) then(result);
  });
}

RunResult Environment::runSystemProgram(const Lines &program, bool keepTab) {
  return runToEnd(startSystemProgram(program, keepTab));
}

RunResult Environment::startWebPage(const u16 &url, const u16 &encoding) {
  extractionEncoding_ = encoding;
  webPageLoaded_ = false;
  Lines program = {u"&U=\"" + url + u"\";", u"P=[#].NEW;", u"[#P]=<*> " + encoding + u" &U;", u"[#P].Name(&U);"};
  const int before = tabs.openCount();
  std::array<bool, TabPool::kTabs> wasOpen{};
  for (int i = 0; i < TabPool::kTabs; ++i) wasOpen[std::size_t(i)] = tabs.at(i).inUse;
  toolTab_ = tabs.lowestFree();
  const RunResult started = startSystemProgram(program, true, [this, before, wasOpen](RunResult r) {
    toolTab_ = -1;
    // Only the page with the fetched text stays open.
    int page = tabs.active();
    for (int i = 0; i < TabPool::kTabs; ++i) {
      Tab &t = tabs.at(i);
      if (t.inUse && t.caption == u"__$$$__" && !wasOpen[std::size_t(i)]) {
        t.modified = false;
        workspace.closeTab(i);
      }
    }
    // A failed or stopped fetch leaves no empty page behind.
    if (r != RunResult::Ended)
      for (int i = 0; i < TabPool::kTabs; ++i) {
        Tab &t = tabs.at(i);
        if (t.inUse && !wasOpen[std::size_t(i)] && t.lines.empty()) {
          t.modified = false;
          workspace.closeTab(i);
        }
      }
    if (page >= 0 && tabs.at(page).inUse) {
      tabs.at(page).modified = true;
      tabs.activate(page);
    }
    webPageLoaded_ = r == RunResult::Ended && tabs.openCount() > before;
  });
  // A failed fetch names the tool and the page, not a line of the
  // program the user never sees.
  if (started == RunResult::Running) runLoop.nameErrorPlace(u"WEBページ読込（URL）", url);
  else toolTab_ = -1;
  return started;
}

bool Environment::loadWebPage(const u16 &url, const u16 &encoding) {
  runToEnd(startWebPage(url, encoding));
  return webPageLoaded_;
}

RunResult Environment::startExtraction(const ExtractionSpec &spec) {
  if (spec.sourcePath.empty() || !mayStart(Command::Tool)) return RunResult::NotStarted;
  int source = tabs.active() + 1;
  int tab = workspace.newProgram();
  if (tab < 0) return RunResult::NotStarted;
  tabs.at(tab).lines = extraction_program(spec, source);
  const int slot = compileDriver.compileActiveTab();
  // Runs whatever the permit list says of its slot: the user asked for it.
  return startToolRun(slot, {});
}

RunResult Environment::runExtraction(const ExtractionSpec &spec) { return runToEnd(startExtraction(spec)); }

}  // namespace velmora::environment

namespace velmora::environment {

void Environment::renameWord(const u16 &oldWord, const u16 &newWord) {
  language::apply_rename(language_.tables, oldWord, newWord, [this](const u16 &m) { ui.message(m, u""); });
  language::apply_rename(language_.rules, oldWord, newWord, [this](const u16 &m) { ui.message(m, u""); });
  pendingRename_ = {oldWord, newWord};
}

void Environment::confirmRename() {
  if (!pendingRename_) return;
  auto [oldWord, newWord] = *pendingRename_;
  pendingRename_.reset();
  if (ui.askYesNo(u"登録済みプログラムも変更", u"プログラム変更の確認")) rewriteUserPrograms(oldWord, newWord);
  language::save_language_tables(language_.tables, home);
  language::save_codegen_rules(language_.rules, home);
}

namespace {

// Every occurrence of a word in the lines (comments and strings too, as
// renames of saved programs always were); whether any was found.
bool replace_word(Lines &lines, u16view oldWord, u16view newWord) {
  bool changed = false;
  if (oldWord.empty()) return false;
  for (u16 &line : lines)
    for (std::size_t at = line.find(oldWord); at != u16::npos; at = line.find(oldWord, at + newWord.size())) {
      line.replace(at, oldWord.size(), newWord);
      changed = true;
    }
  return changed;
}

std::filesystem::path same_file(const std::filesystem::path &p) {
  std::error_code ec;
  std::filesystem::path c = std::filesystem::weakly_canonical(p, ec);
  return ec ? p : c;
}

}  // namespace

// The user's programs follow a renamed word: a listed file that contains it
// is rewritten (in its own encoding and line ends), any other is left
// untouched; an open tab that contains it is changed in place and marked
// changed (a tab with unsaved edits only when the user agrees), and its file
// is left for the user to save. One summary names what changed.
Lines Environment::rewriteUserPrograms(const u16 &oldWord, const u16 &newWord) {
  bool all = ui.askYesNo(u"現在登録している全プログラム変更するか", u"プログラム変更の確認");
  Lines files = workspace.recentFiles();
  if (!all && files.size() > 1) files.resize(1);
  Lines changed;
  std::vector<std::filesystem::path> inTabs;
  for (int i = 0; i < TabPool::kTabs; ++i) {
    Tab &t = tabs.at(i);
    if (!t.inUse) continue;
    if (t.hasFile) inTabs.push_back(same_file(std::filesystem::path(text::to_utf8(t.panels[2]))));
    Lines lines = t.lines;
    if (!replace_word(lines, oldWord, newWord)) continue;
    if (t.modified && !ui.askYesNo(u"「" + t.caption + u"」は編集中です。このタブの「" + oldWord + u"」も「" + newWord +
                                       u"」に変更しますか？",
                                   u"プログラム変更の確認"))
      continue;
    t.lines = std::move(lines);
    t.modified = true;
    t.panels[1] = u"変更";
    ++t.revision;
    changed.push_back(t.caption + u"（タブ、未保存）");
  }
  for (const u16 &name : files) {
    std::filesystem::path path(text::to_utf8(name));
    if (path.is_relative()) path = workspace.programDirectory() / path;
    const std::filesystem::path file = same_file(path);
    if (std::find(inTabs.begin(), inTabs.end(), file) != inTabs.end()) continue;  // changed in its tab
    auto bytes = text::read_file_bytes(path);
    if (!bytes) continue;
    const text::Decoded text = text::decode_bytes(*bytes);
    Lines lines = text::split_lines(text.text);
    if (!replace_word(lines, oldWord, newWord)) continue;
    // Written back in the file's own encoding and line ends.
    if (text::write_lines_file(path, lines, text.encoding, text::line_ends_of(text.text)))
      changed.push_back(text::from_utf8(path.filename().string()));
    else ui.message(u"ファイルを保存できない " + text::from_utf8(path.string()), u"");
  }
  u16 summary = changed.empty() ? u"「" + oldWord + u"」を含むプログラムはありません。"
                                : u"「" + oldWord + u"」を「" + newWord + u"」に変更しました：";
  for (const u16 &c : changed) summary += u"\r  " + c;
  ui.message(summary, u"プログラム変更");
  return changed;
}

const char *Environment::languageFile(LanguageList which) {
  switch (which) {
    case LanguageList::Keywords: return language::LanguageTables::kKeywordFile;
    case LanguageList::Symbols: return language::LanguageTables::kSymbolFile;
    case LanguageList::MathFunctions: return language::LanguageTables::kMathFile;
    case LanguageList::Commands: return language::LanguageTables::kCommandFile;
    case LanguageList::Grammar: break;
  }
  return language::LanguageTables::kSyntaxFile;
}

const Lines &Environment::languageList(LanguageList which) const {
  const language::LanguageTables &t = language_.tables;
  switch (which) {
    case LanguageList::Keywords: return t.keywords;
    case LanguageList::Symbols: return t.symbols;
    case LanguageList::MathFunctions: return t.mathFuncs;
    case LanguageList::Commands: return t.commands;
    case LanguageList::Grammar: break;
  }
  return t.syntax;
}

bool Environment::replaceLanguageList(LanguageList which, const Lines &edited) {
  if (edited.empty()) return false;
  const bool grammar = which == LanguageList::Grammar;
  Lines replacement = grammar ? edited : language::sorted_word_list(edited, which == LanguageList::Commands);
  if (!text::write_lines_file(home / languageFile(which), replacement)) {
    ui.message(u"ファイルに保存できません", u"");
    return false;
  }
  language::LanguageTables &t = language_.tables;
  Lines *target = &t.syntax;
  switch (which) {
    case LanguageList::Keywords: target = &t.keywords; break;
    case LanguageList::Symbols: target = &t.symbols; break;
    case LanguageList::MathFunctions: target = &t.mathFuncs; break;
    case LanguageList::Commands: target = &t.commands; break;
    case LanguageList::Grammar: break;
  }
  *target = std::move(replacement);
  ui.message(grammar ? u"文法変更反映には再起動が必要です。" : u"変更反映には再起動が必要です。", u"");
  return true;
}

}  // namespace velmora::environment
