// SyncDisque: what was written reaches the disk itself. A write() alone
// reaches the page cache, which a power cut empties; a line or a record is
// on disk only once fdatasync has returned, and the name of a newly made
// file only once its folder has been synced.
#ifndef NIVELIX_SYNCDISQUE_H
#define NIVELIX_SYNCDISQUE_H

// Waits until the data written to fd is on disk. Returns 0, or the system
// error (EIO, ENOSPC, EDQUOT...). A file that cannot be synced at all (a pipe,
// a character device such as /dev/null, a file system without a disk) says
// EINVAL or EROFS: there is nothing to wait for, and that is 0.
int SyncData(int fd);

// Syncs the folder at path (its entries: the names of the files in it).
// Returns 0, or the system error of opening or syncing it (ENOENT, EACCES,
// ENOTDIR, EIO...); EINVAL and EROFS count as 0 as for SyncData.
int SyncFolder(const char *path);

#endif
