#include "support/fpga_view.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

FpgaView::FpgaView(const std::string &path, bool writable)
{
    int fd = open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0)
        return;
    void *p = mmap(nullptr, SIZE, writable ? PROT_READ | PROT_WRITE : PROT_READ, MAP_SHARED, fd, 0);
    close(fd);
    if (p != MAP_FAILED)
        base_ = (const uint8_t *)p;
}

FpgaView::~FpgaView()
{
    if (base_ != nullptr)
        munmap(const_cast<uint8_t *>(base_), SIZE);
}
