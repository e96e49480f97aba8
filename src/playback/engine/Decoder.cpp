#include "Decoder.h"

#include "FileGate.h"

#include <cstring>
#include <unistd.h>

void setInfoText(char (&field)[128], const char *text)
{
    std::memset(field, 0, sizeof field);
    std::strncpy(field, text, sizeof field - 1);
}

OpenResult openDecoder(int fd, int64_t size, TrackInfo &info)
{
    unsigned char head[12] = {};
    const ssize_t got = ::pread(fd, head, sizeof head, 0);
    if (got < 0) {
        UniqueFd closer(fd);
        return {nullptr, ErrUnreadable};
    }
    const bool riff = got >= 4 && (std::memcmp(head, "RIFF", 4) == 0 || std::memcmp(head, "RIFX", 4) == 0 ||
                                   std::memcmp(head, "RF64", 4) == 0);
    if (riff)
        return openWav(fd, size, info);
    return openMp3(fd, size, info);
}
