// Makes the share of an SMB location available below the mount point.
// Every command runs from an argument vector: nothing in the location ever
// reaches a shell.
#pragma once

#include "smb/smb_location.h"

// Runs argv[0] (searched on PATH) and waits for it. Returns its exit status,
// or -1 when it could not be started or did not exit normally.
int run_command(const char *const argv[]);

// Mounts smb.share on the mount point unless it is there already, first
// creating the directory (nothing mounted) or unmounting what occupies it.
// Failures show later, when the file below the mount point cannot be opened.
void prepare_smb_share(const SmbLocation &smb);
