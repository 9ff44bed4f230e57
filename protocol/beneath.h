#pragma once

#include <string>

// Opening files of a folder whose content is untrusted: a firmware package
// on a stick or a share, which someone may change while it is read.

// Opens rel, names joined by '/', beneath the folder dirfd refers to, with
// flags as for open(2). No symbolic link is followed on the way, the last
// name included, and nothing outside the folder is reached, whatever is
// renamed or swapped while it runs: there is no gap between a check and the
// open. openat2 does it where the kernel has it; older kernels get the walk
// below. -1 with errno set on failure: ELOOP for a link on the way, EXDEV for
// a path that would leave the folder.
int OpenBeneath(int dirfd, const std::string& rel, int flags);

// The same as a walk of openat, one name at a time, each opened without
// following a link. For kernels without openat2 (before 5.6); public so the
// tests reach it on any kernel.
int OpenBeneathByWalk(int dirfd, const std::string& rel, int flags);

// For messages only, after ELOOP: the first part of rel that is a link
// ("FPGA" of "FPGA/12.bin") and where it points; empty when none is (now).
std::string LinkOnPath(int dirfd, const std::string& rel, std::string* target);
