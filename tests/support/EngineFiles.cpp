#include "EngineFiles.h"

#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace fixtures;

Files &Files::get()
{
    static Files files;
    return files;
}

std::string Files::wav(const std::string &name, const Wave &w)
{
    const std::string path = folder.file(name);
    if (!std::filesystem::exists(path)) {
        EXPECT_TRUE(writeWav(path, w)) << path;
    }
    return path;
}

std::string Files::mp3(const std::string &name, Mp3Kind kind, double seconds, int channels)
{
    const std::string path = folder.file(name);
    if (!std::filesystem::exists(path)) {
        Wave w;
        w.channels = channels;
        w.seconds = seconds;
        w.signal = kind == Mp3Kind::Cbr128 ? Signal::Sine : Signal::Varied;
        const std::string source = folder.file(name + ".wav");
        EXPECT_TRUE(writeWav(source, w));
        EXPECT_TRUE(makeMp3(source, path, kind)) << "lame failed for " << name;
    }
    return path;
}

std::string readAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int countEntries(const char *dir)
{
    int n = 0;
    if (DIR *d = opendir(dir)) {
        while (readdir(d))
            ++n;
        closedir(d);
    }
    return n;
}
