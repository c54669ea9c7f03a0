// Output targets of every kind a user may name: a plain file, a missing
// one, a device node, a FIFO, a symbolic link, a directory, a read-only
// file and a name as long as the file system allows.
#pragma once

#include "TempDir.h"

#include <string>
#include <vector>

enum class TargetKind {
  Plain,
  Missing,
  Device,
  Fifo,
  SymLink,
  Directory,
  ReadOnly,
  LongName
};

const std::vector<TargetKind> &allTargetKinds();
const char *targetKindName(TargetKind kind);

// Makes a target of the kind in dir under name (LongName: a name of 255
// characters ending in name's extension; SymLink: a link named name to
// "real/" + name) and gives the name to write to. An existing file holds
// kOldTargetBytes. Empty when the kind cannot be made here: a device node
// needs root.
extern const char *const kOldTargetBytes;
std::string makeTarget(const TempDir &dir, TargetKind kind,
                       const std::string &name);

// The file the output lands in: "real/" + name for a link, else name.
std::string landingName(TargetKind kind, const std::string &name);

// Whether a plain create could write the read-only target: root's can.
bool writesReadOnlyFiles();

// Whether a plain create is refused the target here: a directory always,
// a read-only file unless writesReadOnlyFiles().
bool plainCreateRefuses(TargetKind kind);
