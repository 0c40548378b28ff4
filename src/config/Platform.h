// Where the user's folders are on this system. The host is a Windows program;
// these stand in for its shell folders (the XDG base directories).
#pragma once

#include <filesystem>

namespace cau {

// $HOME, else the home folder of the user's account entry.
std::filesystem::path HomeDir();
// $XDG_CONFIG_HOME, else ~/.config.
std::filesystem::path ConfigHome();
// $XDG_DATA_HOME, else ~/.local/share.
std::filesystem::path DataHome();
// The XDG documents folder ($XDG_DOCUMENTS_DIR, else user-dirs.dirs), else
// the home folder.
std::filesystem::path DocumentsDir();
// $TMPDIR, else /tmp.
std::filesystem::path TempDir();

// The local application-data folder of the installation, ending in "/":
// DataHome()/Causarium/, created with its parents; when that cannot be
// created, the same under the documents folder, else under the temporary
// folder (not created if even that fails).
std::string LocalAppDataDir();

}  // namespace cau
