// The system's rules for path names: which characters separate folders,
// where a name part begins, what makes a path absolute, how a relative path
// becomes a full one, and whether names ignore case.
//
// POSIX: "/" is the only separator, a backslash or a colon is an ordinary
// name character, and a full path is made by text. Windows: the backslash
// separates and the forward slash is accepted as one, a colon ends a drive
// prefix, the system makes paths full, and names ignore case.
#pragma once

#include <cstddef>
#include <string>

namespace Velk::os {

// The separator written into paths (one character).
extern const char path_separator[];
// The characters accepted as separators; each is turned into path_separator.
extern const char slash_set[];
// The characters after which the name part of a pattern begins.
extern const char path_delimiters[];

// True for a path that does not depend on the current directory's folder:
// one that starts with a separator or, on Windows, a drive prefix ("C:").
bool is_absolute_path(const char* path, std::size_t length);

// The full form of path, a relative path resolved against the folder base
// (a full path; null for the current directory), "." and ".." components
// resolved; a trailing separator is kept. Returns 0 or the OS error number.
int full_path(const char* path, const char* base, std::string& out);

// True where file names are compared without regard to the case of ASCII
// letters, wildcards included (Windows); false where they are bytes (POSIX).
bool names_ignore_case();

}  // namespace Velk::os
