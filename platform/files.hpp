// Files and directories on POSIX: the layer under the file! actions,
// the directory routines, checksum of a file and size?.
//
// Paths are the system's own bytes (UTF-8 in practice), handed over
// unchanged; a path holding a zero byte names nothing and every operation
// refuses it. Nothing here touches values or raises: each operation
// answers whether it worked, and callers decide what a failure means.
//
// Every read and write loops until the whole count has moved: a call cut
// short by a signal (EINTR) is repeated, a short count is continued, and a
// write that cannot go on (a full disk, a closed pipe) is a failure, never
// a success with fewer bytes. Descriptors are close-on-exec and closed by
// the operation that opened them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qel::files {

// ---- descriptors ---------------------------------------------------------------

// -1 when the path holds a zero byte or the system refuses.
int open_read(const std::string& path);

struct WriteMode {
    bool append = false;  // every write goes to the end
    bool keep = false;    // the old content stays (a write at a position)
};
// Created when missing (mode 0666 less the umask); emptied unless append
// or keep is set.
int open_write(const std::string& path, WriteMode mode);

// Reads up to count bytes, repeating a read cut short by a signal: the
// bytes read, 0 at the end, -1 on failure.
int64_t read_some(int fd, uint8_t* buffer, size_t count);

// Writes every byte, continuing after short writes and signals. false on
// any failure, also when the system accepts nothing (a write of 0).
bool write_all(int fd, const uint8_t* data, size_t count);

// Closes the descriptor; false when the system reports an error, which for
// a written file may be the first news that its data did not reach it.
bool close(int fd);

// The size the system gives for a regular file; 0 for the others (pipes,
// terminals, devices), and for files whose size it does not know in
// advance (those of /proc); nothing when fd is not open.
std::optional<int64_t> content_size(int fd);

// Moves the position of a file to offset from its start.
bool seek(int fd, int64_t offset);

// ---- whole files ---------------------------------------------------------------

enum class ReadStatus { Done, CannotOpen, Failed, TooLarge };

struct ReadRequest {
    int64_t seek = -1;             // start offset; -1 from the start
    int64_t part = -1;             // at most this many bytes; -1 all
    size_t limit = SIZE_MAX;       // more than this is TooLarge
};

struct ReadResult {
    ReadStatus status = ReadStatus::Done;
    std::vector<uint8_t> bytes;
};

// The bytes of the file from the seek offset, at most part of them. A
// file whose size is known is read at its offset up to that size. One of
// size 0 is read in one pass into a growing buffer up to its end (or up to
// seek + part bytes, so that an endless device with a part ends), and the
// offset is then taken in what was read. An offset past the end gives no
// bytes.
ReadResult read_file(const std::string& path, const ReadRequest& request);

struct WriteRequest {
    bool append = false;
    int64_t seek = -1;  // write at this offset, keeping the rest; -1 none
};

// Writes the bytes to the file: emptied first unless appended to or
// written at an offset. false when the file cannot be opened, any byte
// cannot be written, or closing reports an error.
bool write_file(const std::string& path, const uint8_t* data, size_t count, const WriteRequest& request);

// ---- names ---------------------------------------------------------------------

enum class Kind { File, Directory, Other };

struct Info {
    Kind kind;
    int64_t size;                // bytes of a regular file
    int64_t modified_seconds;    // last modification, seconds since 1970 UTC
    int32_t modified_nanoseconds;
};

// What the path names, links followed; nothing when it names nothing.
std::optional<Info> info(const std::string& path);
bool exists(const std::string& path);
// Size in bytes of a regular file's content; nothing for a directory,
// anything else that is not a regular file, or a name that names nothing.
std::optional<int64_t> file_size(const std::string& path);

struct Entry {
    std::string name;
    bool directory;  // links are followed
};

// The entries of a directory without "." and "..", sorted by the bytes of
// their names; nothing when it cannot be read.
std::optional<std::vector<Entry>> list_dir(const std::string& path);

bool make_dir(const std::string& path);
bool remove_file(const std::string& path);
bool remove_dir(const std::string& path);  // an empty directory
bool rename(const std::string& from, const std::string& to);

}  // namespace qel::files
