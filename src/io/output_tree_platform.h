// What each platform provides to OutputTree (output_tree.cc): opening the
// destination, and opening, creating and refusing single levels below it.
// One implementation file per platform; only output_tree.cc includes this.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "io/file.h"
#include "io/output_tree.h"

namespace kestrum::output_tree {

using Handle = std::intptr_t;
inline constexpr Handle kNoHandle = -1;

// The platform's own state for one destination (its path as the system
// wants it, which calls it has).
struct Root;
struct RootDeleter {
  void operator()(Root* root) const;
};
using RootPtr = std::unique_ptr<Root, RootDeleter>;

// The characters that separate the components of relative paths: '/' on
// POSIX; '\' and '/' on Windows. Keys of directories below the destination
// are their components joined by JoinSeparator(), with no empty or "."
// component.
std::string_view Separators();
char JoinSeparator();

// Opens the destination (following links: the destination as given may be
// one), creating it and its missing parents when it does not exist. `fresh`:
// it did not exist before.
OutputStatus OpenRoot(const std::string& destination, RootPtr& root, Handle& handle, bool& fresh);

// Opens the directory `name` in `parent` (whose key is `parent_key`),
// creating it when absent, and refusing it when it is a link or no
// directory. `create_first`: the parent was created by this run, so the
// level is most likely absent and is made before it is opened. `fresh`: this
// call created it.
OutputStatus OpenLevel(Root& root, Handle parent, std::string_view parent_key, const std::string& name,
                       bool create_first, Handle& handle, bool& fresh);

// Opens an existing directory several levels below `parent` in one call, if
// the system can while refusing every link on the way. False when it cannot
// (or the path is absent, or something is in the way): the level-by-level
// walk then finds out which.
bool OpenExistingBeneath(Root& root, Handle parent, std::string_view parent_key, const std::string& relative,
                         Handle& handle);

// Creates a new file `name` in `directory`, replacing a non-directory there
// when `replace` (else kExists when anything is there).
OutputStatus CreateFileIn(Root& root, Handle directory, std::string_view directory_key, const std::string& name,
                          bool replace, File& file);

// Removes the file `name` from `directory`.
bool RemoveFileIn(Root& root, Handle directory, std::string_view directory_key, const std::string& name);

// Removes the empty directory `name` (closed) from `directory`.
bool RemoveLevelIn(Root& root, Handle directory, std::string_view directory_key, const std::string& name);

void CloseDirectory(Handle handle);

// How many directories the tree keeps open at once.
std::size_t DirectoryCapacity();

// How many threads may create files at once (see OutputTree::CreateNew).
std::size_t CreatorThreads();

}  // namespace kestrum::output_tree
