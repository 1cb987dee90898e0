// The driver of bench/wine_run (not timed).
//   put      places a 2 KB query on the clipboard as CF_UNICODETEXT;
//   check    exits 0 when the clipboard holds that query laid out, that is
//            with a line break before its first FROM.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::wstring Query() {
  const std::wstring clause =
      L"select a.id, b.name, c.total from accounts a where a.state = 1 and "
      L"b.kind = 2 or c.total > 100 order by a.id; ";
  std::wstring query;
  while (query.size() + clause.size() <= 2048) query += clause;
  query.append(2048 - query.size(), L' ');
  return query;
}

bool Put(const std::wstring& text) {
  const SIZE_T bytes = (text.size() + 1) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (memory == nullptr) return false;
  std::memcpy(GlobalLock(memory), text.c_str(), bytes);
  GlobalUnlock(memory);
  if (!OpenClipboard(nullptr)) return false;
  const bool ok =
      EmptyClipboard() && SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
  CloseClipboard();
  return ok;
}

bool LaidOut() {
  if (!OpenClipboard(nullptr)) return false;
  bool ok = false;
  if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
    const auto* text = static_cast<const wchar_t*>(GlobalLock(data));
    ok = text != nullptr && std::wcsstr(text, L"\r\n  from ") != nullptr;
    GlobalUnlock(data);
  }
  CloseClipboard();
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "put") == 0)
    return Put(Query()) ? 0 : 1;
  if (argc == 2 && std::strcmp(argv[1], "check") == 0) return LaidOut() ? 0 : 1;
  std::fputs("usage: wine_clipboard_query put|check\n", stderr);
  return 2;
}
