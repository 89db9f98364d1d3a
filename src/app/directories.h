// The installation layout: the working directory must end in "/bin"
// (letter case ignored); settings, pictures, filters, logs and data live in
// sibling folders formed as "<cwd>/../env" and so on, never normalised.
#pragma once

#include <string>

namespace lumadrift {

// 0 when the working directory ends in "/bin" (any case), -1 otherwise
// (also for a directory shorter than four characters).
int LayoutCheck(const std::string& workingDirectory);

struct Directories {
    std::string envDir;      // <cwd>/../env      (Lumadrift.ini)
    std::string pictureDir;  // <cwd>/../picture
    std::string filterDir;   // <cwd>/../filter
    std::string logDir;      // <cwd>/../log
    std::string dataDir;     // <cwd>/../data
    std::string iniPath;     // envDir + "/Lumadrift.ini"

    // Forms the five paths from a working directory (or, with fromRoot, from
    // an installation root: "<root>/env" ...).
    static Directories FromWorkingDirectory(const std::string& cwd);
    static Directories FromRoot(const std::string& root);

    // Creates each missing directory (one level each); failures are ignored.
    void CreateMissing() const;
};

// The process's current directory ("" when it cannot be read).
std::string CurrentDirectory();

}  // namespace lumadrift
