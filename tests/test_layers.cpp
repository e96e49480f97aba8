// The source folders form layers: a folder includes only folders below it. This reads every
// #include "..." under src/ and fails on any set of folders that include each other in a circle,
// directly or through others, naming the includes that close it.
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Include {
    std::string from, to; // folders relative to src/ ("." for src/ itself)
    std::string where;    // file:line of the include
};

std::string folderOf(const fs::path &file, const fs::path &src)
{
    return fs::relative(file.parent_path(), src).generic_string();
}

// Every include of a project file between two different folders. An include is looked up beside the
// including file first, then from src/, as the compiler's include path has it.
std::vector<Include> folderIncludes(const fs::path &src)
{
    static const std::regex quoted(R"(^\s*#\s*include\s*"([^"]+)\")");
    std::vector<Include> out;
    for (const auto &entry : fs::recursive_directory_iterator(src)) {
        const std::string ext = entry.path().extension().string();
        if (!entry.is_regular_file() || (ext != ".h" && ext != ".cpp"))
            continue;
        std::ifstream in(entry.path());
        std::string line;
        for (int number = 1; std::getline(in, line); ++number) {
            std::smatch m;
            if (!std::regex_search(line, m, quoted))
                continue;
            fs::path target = entry.path().parent_path() / m[1].str();
            if (!fs::exists(target))
                target = src / m[1].str();
            if (!fs::exists(target))
                continue; // a library's header
            const std::string from = folderOf(entry.path(), src), to = folderOf(fs::canonical(target), src);
            if (from != to)
                out.push_back(
                    {from, to, fs::relative(entry.path(), src).generic_string() + ":" + std::to_string(number)});
        }
    }
    return out;
}

// The strongly connected sets of two or more folders (Tarjan's algorithm).
std::vector<std::set<std::string>> circles(const std::vector<Include> &includes)
{
    std::map<std::string, std::set<std::string>> edges;
    for (const Include &i : includes) {
        edges[i.from].insert(i.to);
        edges[i.to];
    }
    std::map<std::string, int> index, low;
    std::vector<std::string> stack;
    std::set<std::string> onStack;
    std::vector<std::set<std::string>> found;
    int next = 0;
    std::function<void(const std::string &)> visit = [&](const std::string &v) {
        index[v] = low[v] = next++;
        stack.push_back(v);
        onStack.insert(v);
        for (const std::string &w : edges[v]) {
            if (!index.count(w)) {
                visit(w);
                low[v] = std::min(low[v], low[w]);
            } else if (onStack.count(w)) {
                low[v] = std::min(low[v], index[w]);
            }
        }
        if (low[v] != index[v])
            return;
        std::set<std::string> component;
        std::string w;
        do {
            w = stack.back();
            stack.pop_back();
            onStack.erase(w);
            component.insert(w);
        } while (w != v);
        if (component.size() > 1)
            found.push_back(component);
    };
    for (const auto &[v, targets] : edges)
        if (!index.count(v))
            visit(v);
    return found;
}

} // namespace

TEST(Layers, NoFolderIncludesOneThatIncludesItBack)
{
    const fs::path src = fs::canonical(fs::path(VB_SOURCE_DIR) / "src");
    const std::vector<Include> includes = folderIncludes(src);
    ASSERT_FALSE(includes.empty()) << "no include between folders found under " << src;
    for (const auto &circle : circles(includes)) {
        std::string report;
        for (const Include &i : includes)
            if (circle.count(i.from) && circle.count(i.to))
                report += "\n  " + i.where + ": " + i.from + " -> " + i.to;
        ADD_FAILURE() << "these folders include each other in a circle:" << report;
    }
}
