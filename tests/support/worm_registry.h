// What the worm writes into the registry, as the tests seed it and expect it
// repaired: written out here on its own, not taken from the repair's code.
#pragma once

namespace worm_registry {

constexpr char kExplorer[] = "Software\\Microsoft\\Windows\\CurrentVersion\\explorer";
constexpr char kRun[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kPolicy[] = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr char kWormProgram[] = "C:\\windows\\tcp32.exe";

// Deleted in this order, "Install Item" first.
constexpr const char* kValueNames[] = {"Install Item", "Unfile", "CacheBox Outfit", "Kazaa Infect",
                                       "Mirc Install Folder", "Email Address", "Server", "VicName", "Installed"};

struct CommandRow {
  const char* key;
  const char* replacement;
};
constexpr CommandRow kCommands[] = {
    {"Software\\CLASSES\\exefile\\shell\\open\\command", "\"%1\" %*"},
    {"Software\\CLASSES\\batfile\\shell\\open\\command", "\"%1\" %*"},
    {"Software\\CLASSES\\comfile\\shell\\open\\command", "\"%1\" %*"},
    {"Software\\CLASSES\\piffile\\shell\\open\\command", "\"%1\" %*"},
    {"Software\\CLASSES\\regfile\\shell\\open\\command", "regedit.exe \"%1\""},
    {"Software\\CLASSES\\scrfile\\shell\\config\\command", "\"%1\""},
    {"Software\\CLASSES\\scrfile\\shell\\open\\command", "\"%1\" /S"},
};

}  // namespace worm_registry
