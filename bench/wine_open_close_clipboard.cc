// The baseline of bench/wine_run: a graphical-subsystem program that does
// nothing but open and close the clipboard, built like quillmore.exe. What
// it costs is what any program that touches the clipboard costs under Wine.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  if (!OpenClipboard(nullptr)) return 1;
  return CloseClipboard() ? 0 : 1;
}
