#pragma once
// A file system of a few kilobytes mounted on a folder of the test's own
// (a tmpfs), so that saves meet a really full disk. Mounting needs root (or
// the capability to mount); mounted() says whether it worked, and tests skip
// with that reason otherwise. The mount goes when the object does.

#include <fcntl.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

class SmallDisk {
public:
    // Makes folder when it is missing.
    SmallDisk(const std::string& folder, unsigned kilobytes) : folder_(folder) {
        ::mkdir(folder_.c_str(), 0755);
        const std::string options = "size=" + std::to_string(kilobytes) + "k,mode=0777";
        mounted_ = ::mount("tmpfs", folder_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted_)
            ::umount2(folder_.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return mounted_; }
    // Fills what room is left with a file of that name in the folder.
    void fill(const std::string& name) const {
        const int fd = ::open((folder_ + "/" + name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const std::string block(4096, 'x');
        while (fd >= 0 && ::write(fd, block.data(), block.size()) > 0) {
        }
        if (fd >= 0)
            ::close(fd);
    }
    static const char* skipReason() { return "cannot mount a small tmpfs (needs root or CAP_SYS_ADMIN)"; }

private:
    std::string folder_;
    bool mounted_ = false;
};

} // namespace testsupport
