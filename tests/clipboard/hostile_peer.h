// What the peer's Wayland half (hostile_peer.cc, with main) and its X11 half
// (hostile_peer_x11.cc) share.
#ifndef QUILLMORE_TESTS_CLIPBOARD_HOSTILE_PEER_H_
#define QUILLMORE_TESTS_CLIPBOARD_HOSTILE_PEER_H_

#include <string>

bool ReadFile(const char* path, std::string* bytes);
void Say(const char* line);  // a line on standard output, at once
// A mode's run: args are what follows MODE; 2 for a wrong command line.
int RunX11(const std::string& mode, char** args, int count);

#endif  // QUILLMORE_TESTS_CLIPBOARD_HOSTILE_PEER_H_
