#include "TargetKinds.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

const char *const kOldTargetBytes = "an earlier output\n";

const std::vector<TargetKind> &allTargetKinds() {
  static const std::vector<TargetKind> kinds = {
      TargetKind::Plain,    TargetKind::Missing, TargetKind::Device,
      TargetKind::Fifo,     TargetKind::SymLink, TargetKind::Directory,
      TargetKind::ReadOnly, TargetKind::LongName};
  return kinds;
}

const char *targetKindName(TargetKind kind) {
  switch (kind) {
  case TargetKind::Plain:
    return "Plain";
  case TargetKind::Missing:
    return "Missing";
  case TargetKind::Device:
    return "Device";
  case TargetKind::Fifo:
    return "Fifo";
  case TargetKind::SymLink:
    return "SymLink";
  case TargetKind::Directory:
    return "Directory";
  case TargetKind::ReadOnly:
    return "ReadOnly";
  case TargetKind::LongName:
    return "LongName";
  }
  return "?";
}

std::string makeTarget(const TempDir &dir, TargetKind kind,
                       const std::string &name) {
  const std::string path = dir.file(name);
  switch (kind) {
  case TargetKind::Plain:
    dir.write(name, kOldTargetBytes);
    return name;
  case TargetKind::Missing:
    return name;
  case TargetKind::Device:
    // The numbers of the system's null device.
    if (geteuid() != 0 ||
        mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
      return "";
    return name;
  case TargetKind::Fifo:
    return mkfifo(path.c_str(), 0666) == 0 ? name : "";
  case TargetKind::SymLink:
    dir.write("real/" + name, kOldTargetBytes);
    return symlink(("real/" + name).c_str(), path.c_str()) == 0 ? name : "";
  case TargetKind::Directory:
    return mkdir(path.c_str(), 0755) == 0 ? name : "";
  case TargetKind::ReadOnly:
    dir.write(name, kOldTargetBytes);
    return chmod(path.c_str(), 0444) == 0 ? name : "";
  case TargetKind::LongName: {
    const std::string::size_type dot = name.rfind('.');
    const std::string ext = dot == std::string::npos ? "" : name.substr(dot);
    return std::string(255 - ext.size(), 'n') + ext;
  }
  }
  return "";
}

std::string landingName(TargetKind kind, const std::string &name) {
  return kind == TargetKind::SymLink ? "real/" + name : name;
}

bool writesReadOnlyFiles() { return geteuid() == 0; }

bool plainCreateRefuses(TargetKind kind) {
  return kind == TargetKind::Directory ||
         (kind == TargetKind::ReadOnly && !writesReadOnlyFiles());
}
