// Files and directories: the few operations the programs need, with the
// safety rules of a shared temporary directory built in on POSIX.
#pragma once
#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

// Separator of this platform's paths, and the line end text mode writes.
extern const char pl_path_sep;
extern const char pl_text_eol[];
// Suffix of program files ("" or ".exe") and of shell scripts (".sh" or ".cmd").
extern const char pl_exe_suffix[];
extern const char pl_script_suffix[];

// Open flags of pl_file_open.
enum {
  PL_OPEN_NOFOLLOW = 1, // refuse a symbolic link as the last component
  PL_OPEN_OWN_ONLY = 2, // refuse a file that another user owns
};

// Error numbers are the C library's (errno), on both platforms.
// Every int-returning routine here returns 0 on success or an errno value.

// Creates a new empty file exclusively (owner read and write), closes it.
// Fails with EEXIST if anything, a symbolic link included, has the name.
int pl_file_create_new(const char *path);
// Deletes a file (a symbolic link itself, never its target).
int pl_file_delete(const char *path);
// 1 when something has the name (a dangling link counts), else 0.
int pl_file_exists(const char *path);
// fopen() with the flags above. mode is an fopen mode ("r", "w", "rb",
// "wb", "r+b", "ab"); "w" modes truncate only after the checks pass.
FILE *pl_file_open(const char *path, const char *mode, int flags, int *err);
// Makes a file writable for its owner again.
int pl_file_clear_readonly(const char *path);
// Lets a script or program be run (POSIX: the execute bits; nothing to
// do on Windows).
int pl_file_set_executable(const char *path);
// Makes a file read-only (all write permission bits off on POSIX).
int pl_file_set_readonly(const char *path);
// 1 when the file can be opened for reading, else 0.
int pl_file_readable(const char *path);
// What a name is: 0 nothing, 1 a file, 2 a directory, 3 something else.
int pl_file_kind(const char *path);
int pl_file_size(const char *path, unsigned long long *size);
// Copies src over dst (replacing it).
int pl_file_copy(const char *src, const char *dst);
int pl_chdir(const char *path);
int pl_getcwd(char *buf, size_t size);

// Directories.
int pl_dir_create(const char *path);
int pl_dir_remove(const char *path); // empty directories only
// Names in a directory, without "." and "..", in no set order.
int pl_dir_list(const char *path, std::vector<std::string> *names);

// The user's temporary directory, ending with the separator. Returns its
// length; when that is size or more nothing is stored (ask again with a
// larger buffer). -1 on failure.
int pl_temp_dir(char *buf, size_t size);
