// Role: files (docs/platform.md, "Files").
// fio.h — file names and file-system operations.
//
// fio_get_unc_full_path turns a name into an absolute, lexically normalised
// path (relative names resolve against the working directory). FIO_PATH
// splits a path into directory, base name and extension and puts it back
// together; FIO_FILE_SYSTEM wraps the few file-system operations the library
// uses. Failures are results (false, null), never internal errors: a missing
// file is the caller's business. The only state kept is the guard's: the
// files this process made through the own-file path, the runs it writes
// for, and what the runs records it read say (thread-safe).
#pragma once

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <string_view>

// The absolute, lexically normalised form of `name` ("" for "").
std::string fio_get_unc_full_path(const std::string& name);

// Why the file of state `st` (from fstat, or lstat of a name that is no
// link) is not a regular file of one name, which a write of the caller's
// own may change: "" when it is, else "a FIFO", "a device", "not a regular
// file" or "a file with <n> names (hard links)".
std::string fio_not_a_file_of_one_name(const struct stat& st);

// True when `path`, not followed, names a regular file of one name that the
// caller owns, or, with `or_link`, a symbolic link the caller made: what a
// clean-up of the caller's own files may remove in a directory others may
// write (the removal itself goes through FIO_FILE_SYSTEM::remove_own_file).
bool fio_is_own_entry(const std::string& path, bool or_link = false);

// True when a flock taken on a file of a file system of type `fs_type`
// (statfs's f_type) keeps out every other holder of every user at once: a
// local file system known to lock so (ext2/3/4, XFS, Btrfs, tmpfs, ramfs,
// ZFS, F2FS, JFS, ReiserFS, bcachefs, NILFS2, overlayfs). False for any
// other: a network or cluster file system (NFS mounted "nolock", clients
// that lock only locally), FUSE, whose locks are what its server makes of
// them (two mounts of one directory lock apart), and a type not known.
bool fio_flock_excludes_on(unsigned long fs_type);

// A path as directory, base name and extension: "d/a.b.c" is directory "d",
// base "a.b", extension "c". Setters return the path for chaining.
class FIO_PATH {
 public:
  FIO_PATH() = default;
  explicit FIO_PATH(const std::string& path);

  // The absolute, normalised path of directory/base.extension.
  std::string fullpath() const;
  // base.extension (base alone without extension).
  std::string filename() const;
  // Replaces base and extension from the file-name part of `name`; a
  // directory part of `name` is dropped.
  FIO_PATH& filename(const std::string& name);
  const std::string& base() const { return m_base; }
  // Takes `base` whole, dots included.
  FIO_PATH& base(const std::string& base);
  const std::string& directory() const { return m_directory; }
  FIO_PATH& directory(const std::string& dir);
  const std::string& extension() const { return m_extension; }
  // Sets the extension (a leading '.' is dropped); a non-empty `second`
  // is appended after another dot ("ext.second").
  FIO_PATH& extension(const std::string& ext, const std::string& second = "");

 private:
  std::string m_directory;
  std::string m_base;
  std::string m_extension;
};

// Whose a file the own-file path finds at a name is (FIO_FILE_SYSTEM::
// file_origin), as far as this process can tell.
enum FIO_FILE_ORIGIN {
  FIO_NO_FILE,                // the name holds nothing
  FIO_MADE_BY_THIS_RUN,       // made by this process, or by the run it writes for
  FIO_MADE_BY_ENDED_RUN,      // the user's own, made by a run that has ended (or outside any run)
  FIO_MADE_BY_LIVE_RUN,       // the user's own, made by another process's run not known to have ended
  FIO_MADE_BY_NO_KNOWN_RUN,   // the user's own regular file, of no run the runs record knows
  FIO_ANOTHER_USERS_FILE,     // another user's regular file of one name
  FIO_NOT_A_FILE_OF_ONE_NAME  // a link, a file of several names, a FIFO, a device, a directory
};

class FIO_FILE_SYSTEM {
 public:
  // True when a file or directory of that name exists.
  static bool exists(const std::string& path);
  // True when a directory of that name exists (a file of that name: false).
  static bool is_directory(const std::string& path);
  // Creates the directory and missing parents; true when it exists after.
  static bool create(const std::string& path);
  // Removes a file or an empty directory; true when nothing of that name
  // remains.
  static bool remove_if_exists(const std::string& path);
  // Renames (moves) a file, replacing an existing target; true on success.
  static bool rename(const std::string& from, const std::string& to);
  // Copies a file, replacing an existing target; true on success.
  static bool copy(const std::string& from, const std::string& to);
  // std::fopen on the full path; null on failure.
  static FILE* fopen(const std::string& path, const char* mode);

  // Opens `path` for binary reading only when it is a regular file of at
  // most `max_bytes`: a directory, a FIFO or a device (/dev/zero) is
  // refused, and so is a larger file, before a byte is read. The type is
  // taken from the opened descriptor (opened without blocking, so a FIFO
  // without a writer cannot hold the caller), so a path swapped after a
  // check cannot slip through. *file is set only when FIO_OPENED; *size is
  // the file's size then. On FIO_CANNOT_OPEN, *error_number (when given) is
  // the system's error number (EACCES, ELOOP, ENOENT, …); 0 otherwise.
  enum OPEN_STATUS { FIO_OPENED, FIO_CANNOT_OPEN, FIO_NOT_REGULAR, FIO_TOO_LARGE };
  static OPEN_STATUS open_regular_file(const std::string& path, uint64_t max_bytes, FILE** file, uint64_t* size,
                                       int* error_number = nullptr);
  // The words for a refusal of open_regular_file: "cannot read the file:
  // <the system's reason>", "not a regular file" or "the file is larger
  // than <max_bytes> bytes (<bound in MiB or GiB>)".
  static std::string open_problem(OPEN_STATUS status, uint64_t max_bytes, int error_number);
  // The whole of a regular file of at most `max_bytes` into *text; false
  // with *problem as open_problem gives it, "cannot read the file: <the
  // system's reason>" for a failed read, "the file changed while it was
  // read", or "not enough memory for the file" (no exception escapes). The
  // read takes the file's size in memory and no more.
  static bool read_regular_file(const std::string& path, uint64_t max_bytes, std::string* text,
                                std::string* problem);

  // Writes `parts` one after the other as the whole of `path`, so that a
  // failed write never leaves the previous file cut or mixed: the text goes
  // to a new file beside the target (same directory, "<path>.tmp<pid>_<k>",
  // created exclusively with the first k below 100 that is free, the name
  // cut before the suffix where the whole would pass 255 bytes), which is
  // renamed over the target only once every byte is written and the file is
  // closed without error; on failure the temporary file is removed and
  // *problem is "cannot write the file: <the system's reason>" ("File too
  // large", "No space left on device"). A temporary the system refuses for
  // want of room or descriptors (ENOSPC, EDQUOT, EMFILE, EIO) refuses the
  // write and leaves the target as it was. A rename replaces only what
  // writing in place would leave the same: a regular file of one link that
  // the caller may write, whose owner, group and permission bits the new
  // file can take, in a directory where the caller may create the temporary
  // and replace that file (a sticky directory lets only the owners; an
  // append-only or immutable one no one), with no mount on it (a file
  // bind-mounted at the path) and no extended attribute a new file would
  // not get (a POSIX ACL, user.* attributes). Any other existing file is
  // written in place (one of several hard links: every name sees the new
  // text), and so is a file whose rename the system refuses (EBUSY, EPERM,
  // EXDEV): the whole text is in hand first, its length is checked against
  // the file-size limit and its room reserved (fallocate; on a file system
  // without it, ext2 or ramfs, by writing zeros past the current end and
  // into the current text's holes, which SEEK_HOLE and SEEK_DATA find
  // without reading, the text unchanged; where the file holds fewer blocks
  // than its length and SEEK_HOLE tells no hole before its end, as FUSE
  // file systems without an lseek of their own (bindfs) tell, the holes are
  // found by reading, and a file the caller may only write is refused
  // before it changes: "cannot write the file: its file system does not
  // tell where its holes are, and it may not be read to find them"), and
  // only then is the file
  // overwritten and cut to the length, so a failed write leaves it as it
  // was there too (a reservation that fails cuts the file back to its
  // length: "No space left on device"; only a device failing after the
  // reservation can leave it part new). A file the
  // caller may not write is refused ("cannot write the file: Permission
  // denied"), whoever may write the directory. A new file gets the
  // permissions a created file gets (0666 less the umask); an existing one
  // keeps its permission bits, owner and group. A symbolic link is followed
  // (the file it names is written; a dangling link creates the file it
  // names, as an open would, and a failed write removes it again; a loop of
  // links is refused: "Too many levels of symbolic links"); a target that
  // exists and is not a regular file (/dev/null, a FIFO) is written in
  // place and its errors are told ("/dev/full": "No space left on device").
  // A new file that cannot be created for its directory's sake says so:
  // "cannot create a file in the directory "<directory, escaped>":
  // Permission denied". A text past the process's file-size limit
  // (RLIMIT_FSIZE) is refused before it is written ("File too large"), so
  // no SIGXFSZ is raised. A path holding a NUL byte is refused ("the path
  // holds a NUL byte"), and so is a write whose 100 temporary names are all
  // taken ("all 100 names of a temporary file beside it are taken").
  static bool replace_file(const std::string& path, std::initializer_list<std::string_view> parts,
                           std::string* problem);
  // replace_file of a file the caller makes for itself in a directory
  // others may write (FIO_FILE_REPLACEMENT::open_own_file).
  static bool replace_own_file(const std::string& path, std::initializer_list<std::string_view> parts,
                               std::string* problem);
  // Opens for writing, as a stream, a file the caller makes for itself in a
  // directory others may write (a debug report in the working or database
  // directory): the text goes as FIO_FILE_REPLACEMENT::open_own_file writes
  // it, and std::fclose commits it (EOF and errno set when the commit
  // fails, the file then left as it was). Null, with errno (EPERM for a
  // file not of the caller's own), when the write cannot begin; *problem
  // (when given) then says why in open_own_file's words.
  static FILE* fopen_own_file(const std::string& path, std::string* problem = nullptr);
  // Copies the regular file `from` (opened without waiting: a FIFO or a
  // device is refused, EINVAL) over `to`, written as open_own_file writes;
  // false with *error (when given) the system's error number of the step
  // that failed and *problem (when given) the writer's reason, `to` then
  // left as it was.
  //
  // The source is read only as a file of the caller's own: a regular file
  // the caller owns, or one its own symbolic link names (a link another
  // user made is not followed; a FIFO or a device is refused before it is
  // opened; the owner and type are checked again on the opened descriptor,
  // against what was checked), and the copy gets no wider permissions than
  // the source's (FIO_FILE_REPLACEMENT::keep_mode_within).
  static bool copy_own_file(const std::string& from, const std::string& to, std::string* problem = nullptr,
                            int* error = nullptr);

  // Opens the file that the caller's own symbolic link `path` names (a log
  // written by another process through the descriptor), with `flags`
  // (O_NOFOLLOW, O_NONBLOCK and O_CLOEXEC added; with O_CREAT the file is
  // made, exclusively, with `mode`, only where nothing is there). Each link
  // on the way is read from a descriptor of the link itself, so a link
  // exchanged meanwhile is never followed: the first must be the caller's,
  // any further one the caller's or root's. What is opened must be a
  // regular file the caller owns, as its descriptor tells. The descriptor,
  // or -1 with errno; a refusal is EPERM, *problem (when given) saying what
  // the path holds ("a symbolic link another user made", "another user's
  // file", "not a regular file").
  static int open_through_own_link(const std::string& path, int flags, mode_t mode, std::string* problem = nullptr);
  // Opens `path`, a file the caller makes for itself in a directory others
  // may write, for appending (a debug trace, a dump written a piece at a
  // time): a new file is made exclusively, never through a link; an
  // existing one is written only when it is a regular file of one name that
  // the caller owns, at the name or named by the caller's own link (as
  // open_through_own_link reaches it), and, in a directory kept to files
  // this process made (keep_files_not_made), one this process made. Another
  // user's file, a link another user made, a file of several names, a FIFO
  // or a device is refused before anything is written. The descriptor
  // (O_WRONLY|O_APPEND, close-on-exec, writes that wait), or -1 with errno
  // (EPERM for a file not of the caller's own, EEXIST for one this process
  // did not make) and *problem (when given) in open_own_file's words
  // ("cannot write the file: it is not a file of this user's own (a FIFO)").
  static int open_own_file_to_append(const std::string& path, std::string* problem = nullptr);

  // ---- the guard of directories others may write
  // A run of parallel synthesis writes its files into a database directory
  // that runs of other processes may write at the same time: runs of other
  // users, runs of this user's other jobs, runs reaching the directory
  // through a mount (NFS, FUSE) whose locks never meet a local run's. The
  // own-file path (FIO_FILE_REPLACEMENT::open_own_file and the writers built
  // on it, remove_own_file) decides what it may replace or remove there from
  // the directory and its file system, inside a run and outside one alike:
  //
  // - Another user's regular file is replaced only in a directory that is
  //   not shared (directory_is_shared: no one else may write it, and its
  //   file system's lock keeps every holder out), never during a run of
  //   this process there, and only where the directory lets the caller
  //   rename over it; otherwise it is refused, "(another user's file)".
  // - The user's own file is replaced or removed unless a run of another
  //   process that has not ended made it (as the runs record tells, below);
  //   during a strict run (keep_files_of_run), only when this process or its
  //   run made it, or a run that has ended.
  //
  // The runs record is a file of the user's own in the directory,
  // "<dir>/.kavu_runs.<uid>" (runs_record_path), to which every run, its
  // helpers and every write of this user's in a directory that holds one
  // append a line: which run began in which process, which run made which
  // file (by name, inode, size and modification time), which run ended. A
  // run ended when its line says so, or when its process is gone (of this
  // host, boot and process namespace); a file made outside any run counts
  // as made by a run that ended. To a run of this process that is not
  // strict (its lock keeps every other holder out), a run has ended unless
  // its process is seen running here: one of another host, boot or process
  // namespace (a run killed in a container, or before the machine was
  // started again) would hold the lock if it still ran. Lines that are
  // damaged, or lost when two mounts append at once, make a file unknown,
  // never another run's: a strict run then refuses it.

  // True when others may write the directory `dir` (it is another user's,
  // group- or world-writable, sticky, or an ACL lets a named user or group
  // write it) or its file system's lock may not keep every holder out
  // (fio_flock_excludes_on is false for it, or flock fails there, as
  // gen_lock_file tells). A directory that cannot be examined counts so.
  static bool directory_is_shared(const std::string& dir);
  // From now on files written in `dir` by the own-file path belong to the
  // run `run` of this process, which is recorded as begun (in this process)
  // in the runs record; a new file is published only where its name still
  // holds nothing (renameat2 RENAME_NOREPLACE, else a hard link made and the
  // temporary's name removed, else a rename once the name is seen free), an
  // existing one replaced or removed only when found there again as it was
  // checked. Not `strict`: the caller holds a lock of `dir` that keeps every
  // other holder out (a local file system, fio_flock_excludes_on), so the
  // user's runs whose process cannot be checked from here count as ended.
  // `strict` (a run whose lock may not keep other runs out): the
  // user's own files are replaced or removed only when this process, the
  // run (its helpers included) or a run that has ended made them; anything
  // else there, the user's own earlier files of no known run included, is
  // refused: "cannot write the file: it is a file this process did not
  // make, which another process may be using" (failure() EEXIST). False,
  // nothing kept, with *problem (when given) saying why, when the run cannot
  // be recorded (the record is not the user's own file, the disk is full):
  // its files would then be known to no other process.
  static bool keep_files_of_run(const std::string& dir, const std::string& run, bool strict,
                                std::string* problem = nullptr);
  // In a helper of the run `run` (whose process began it): the files that
  // run made in `dir` are this process's to replace, and what it makes there
  // is recorded as the run's. Strict where the directory's lock may not keep
  // other runs out. A run of this process's own in `dir` stays as it is.
  static void write_for_run(const std::string& dir, const std::string& run);
  // keep_files_of_run(dir, a run of its own, true) when `on`; else the run
  // kept in `dir` ends: recorded as ended (when this process began it), the
  // guard goes. The files this process made stay known as its own
  // (made_by_this_process) for the rest of its life.
  static void keep_files_not_made(const std::string& dir, bool on);
  // True when `path` names (not through a link) a regular file this
  // process made through the own-file path and that is still there as made.
  static bool made_by_this_process(const std::string& path);
  // Whose the file at `path` is, as far as this process can tell.
  static FIO_FILE_ORIGIN file_origin(const std::string& path);
  // True when the own-file path would now replace or remove what `path`
  // holds, as far as whose it is goes: true for nothing there; for what is
  // no regular file of one name (a link, which a write follows, a FIFO, a
  // file of several names, which a write refuses saying what it is) true
  // but during a strict run. *origin (when given) is its file_origin.
  static bool may_replace_own_file(const std::string& path, FIO_FILE_ORIGIN* origin = nullptr);
  // Why the own-file path would neither replace nor remove what `path`
  // holds (may_replace_own_file false), in words for a refusal: "another
  // user's file"; of the user's own file, the run that made it and why its
  // end is not known ("made by the run of process 4242 on this host, which
  // is still running", "made by a run of process 1 in another process
  // namespace of this host ("pid:[4026532712]", a container's), whose end
  // cannot be checked from here", the same of another host or boot), or
  // "made by no run the runs record knows (…)" during a strict run; during
  // a strict run what is no regular file of one name ("a symbolic link", "a
  // FIFO"). "" when it would be replaced or removed.
  static std::string refusal_reason(const std::string& path);
  // The runs record of this user in `dir`.
  static std::string runs_record_path(const std::string& dir);
  // Removes `path`, a file the caller made for itself, where the own-file
  // path may replace it (may_replace_own_file); in a directory that is
  // shared or kept by a run, with care: the name is first moved aside,
  // checked there, and put back when it holds anything else. A directory
  // stays. True when nothing of the caller's is left there; false, the path
  // left as it is, with *problem (when given) saying why.
  static bool remove_own_file(const std::string& path, std::string* problem = nullptr);

 private:
  static bool replace(const std::string& path, std::initializer_list<std::string_view> parts, bool own,
                      std::string* problem);
};

// replace_file for a text made a part at a time (the timing-netlist writer
// streams its file): open() decides how the target is written, with the
// outcomes replace_file gives; write() appends (false once a write failed);
// commit() ends the write, with replace_file's problem on failure. A file
// written beside its target receives each part as it comes; one written in
// place (and a device) receives nothing before commit(), the parts held in
// memory until then. An object dropped, or abandon()ed, before commit()
// removes its temporary, or the file its write created, and leaves an
// existing target as it was. An end signal during the write removes its
// temporary (thr_end_signal.h); where the caller's handler lets the process
// go on, commit() fails with "cannot write the file: interrupted by a
// signal (SIGINT)" (failure() EINTR) and the target stays as it was.
class FIO_FILE_REPLACEMENT {
 public:
  FIO_FILE_REPLACEMENT() = default;
  FIO_FILE_REPLACEMENT(const FIO_FILE_REPLACEMENT&) = delete;
  FIO_FILE_REPLACEMENT& operator=(const FIO_FILE_REPLACEMENT&) = delete;
  ~FIO_FILE_REPLACEMENT() { abandon(); }

  bool open(const std::string& path, std::string* problem);
  bool write(std::string_view part);
  bool commit(std::string* problem);
  void abandon();
  // open() of a file the caller makes for itself in a directory others may
  // write (a database or working directory shared by several users): the
  // one way the library writes such files. Only a file of its own is
  // written: nothing at the path, a regular file of one name that the
  // caller owns, or a symbolic link the caller owns (followed, as every
  // write follows one). Another user's regular file of one name is
  // replaced by a new file of the caller's (0666 less the umask), renamed
  // over it, only in a directory that is not shared and where the directory
  // lets the caller rename over it (not an append-only or immutable one),
  // and refused otherwise ("cannot write
  // the file: it is not a file of this user's own (another user's file)");
  // it is never written in place. A link another user made, a regular file
  // with other names (hard links), a FIFO, a device or a socket at the path
  // is refused ("… (a FIFO)", "(a symbolic link another user made)", "(a
  // file with 2 names (hard links))", "(a device)"), never followed, opened
  // or written, and no open waits. failure() is then EPERM. What is opened
  // is checked on its descriptor against what was checked (the same device
  // and inode); a name changed in between is examined again. The caller's
  // own link is read from a descriptor of the link itself, never again by
  // name, and must name a regular file the caller owns (or a device or a
  // FIFO); a dangling one creates its file only exclusively. What may be
  // replaced follows the guard of directories others may write
  // (FIO_FILE_SYSTEM::keep_files_of_run, directory_is_shared).
  bool open_own_file(const std::string& path, std::string* problem);
  // Before open(): open() then writes as open_own_file does.
  void keep_to_own_files(bool on) { m_own = on; }
  // Before open(): the file written gets no permission bit outside `mode`
  // (a copy of a private file stays private): a new file is created with
  // them already cleared, a file replaced takes the old file's bits less
  // those, and a file of the caller's own written in place loses them
  // before a byte is written.
  void keep_mode_within(mode_t mode) { m_mode_limit = mode & 07777; }
  // The system's error number of the last open() or commit() that failed
  // (EINVAL for a path holding a NUL byte, EEXIST when no temporary name
  // was free), 0 when none has since the last open().
  int failure() const { return m_failure; }

 private:
  friend class FIO_FILE_SYSTEM;
  enum MODE { NONE, BESIDE, HELD };
  bool open_new(const std::string& path, std::string* problem);
  bool open_existing(const std::string& path, std::string* problem);
  bool take_existing(const std::string& target, int fd, std::string* problem);
  bool open_own(const std::string& path, int attempt, std::string* problem);
  bool open_own_link(const std::string& path, int attempt, std::string* problem);
  bool open_replacing_others(const std::string& path, std::string* problem);
  int publish(int text);
  bool hold(int fd);
  bool commit_held(const std::string_view* parts, size_t count, std::string* problem);
  int commit_refused_rename(int text);
  bool fail(int error, std::string* problem);
  int create_temp(const std::string& target, int* error, mode_t mode = 0666);
  int record_made(int fd);
  static void remove_temp_on_end(long self);

  int m_fd = -1;              // the temporary's (BESIDE), the target's (HELD)
  int m_error = 0;            // the first failed write's
  int m_failure = 0;          // the last failure's (failure())
  uint64_t m_size_hint = 0;   // the whole text's length, when known before open()
  MODE m_mode = NONE;
  uint64_t m_written = 0;     // bytes written to the temporary
  uint64_t m_limit = UINT64_MAX;  // the file-size limit of a regular file
  std::string m_temp;         // renamed over m_target at commit
  int m_on_end = -1;          // removes m_temp when an end signal arrives (remove_temp_on_end)
  // The end signal that removed m_temp, where the caller's handler let the
  // process go on: the write then fails as interrupted.
  std::atomic<int> m_interrupted{0};
  std::string m_target;
  std::string m_created;      // a file this write created in place
  std::string m_held;         // the text of a file written in place
  bool m_own = false;         // open_own_file, keep_to_own_files
  bool m_through_link = false;  // the target was reached through the caller's own link
  std::string m_not_own;      // why the path is not the caller's own file (a refusal)
  mode_t m_mode_limit = 07777;  // keep_mode_within
  // In a directory kept by a run or shared (FIO_FILE_SYSTEM::keep_files_of_run,
  // directory_is_shared): the target was checked as nothing (published
  // without replacing) or as a file that may be replaced (m_checked, checked
  // again before the rename).
  bool m_keep_others = false;
  bool m_target_was_made = false;
  bool m_strict = false;      // written during a strict run (keep_files_of_run)
  int m_record_error = 0;     // why the runs record refused the run's line (kFioNotRecorded)
  std::string m_own_name;     // the name an own file was asked for (a link's, not its file's)
  struct stat m_checked {};
};
