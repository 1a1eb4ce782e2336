#include "app/TemplateFiles.h"

#include "app/NpyFormat.h"
#include "app/RunError.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace tessavo {

namespace {

// Longer words are not numbers the program writes; the limit also ends the
// reading of a file of endless non-blank bytes (/dev/zero) at once.
constexpr std::size_t kLongestWord = 64;

[[noreturn]] void fail(const std::string& message)
{
    throw RunError(message + "\n");
}

void checkName(const std::string& name, const std::string& option, const std::set<std::string>& seen)
{
    if (name.empty())
        fail("A template source needs a name before '=' (got '" + option + "')");
    bool digitsOnly = true;
    for (const char c : name) {
        const bool digit = c >= '0' && c <= '9';
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!digit && !letter && c != '_' && c != '-' && c != '.')
            fail("Template name '" + name + "' may hold only letters, digits, '_', '-' and '.'");
        digitsOnly = digitsOnly && digit;
    }
    if (digitsOnly)
        fail("Template name '" + name + "' is all digits, as the free components' outputs are");
    if (name == "residual")
        fail("Template name 'residual' is the residual output's");
    if (seen.count(name) != 0)
        fail("Template name '" + name + "' is given twice");
}

struct Closer {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<std::FILE, Closer>;

FileHandle openTemplateFile(const std::string& path)
{
    // Opened without waiting: a FIFO that nobody writes to then reads as
    // empty instead of holding the run; reads wait as usual afterwards.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        fail("Not able to read template file " + path + ": " + std::strerror(errno));
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        fail("Not able to read template file " + path + ": " + std::strerror(EISDIR));
    }
    FileHandle file(::fdopen(fd, "r"));
    if (!file) {
        ::close(fd);
        fail("Not able to read template file " + path + ": " + std::strerror(errno));
    }
    return file;
}

// Reads white-space separated words from a file, each at most kLongestWord
// bytes long.
class WordReader {
public:
    WordReader(std::FILE* file, const std::string& path) : file_(file), path_(path) {}

    // The next word, or false at the end of the file.
    bool next(std::string& word)
    {
        word.clear();
        int c;
        while ((c = std::getc(file_)) != EOF && isBlank(c)) {
        }
        while (c != EOF && !isBlank(c)) {
            if (c < 0x20 || c > 0x7e)
                fail("Template file " + path_ + " is not a text file of numbers");
            if (word.size() == kLongestWord)
                fail("Template file " + path_ + " holds '" + word.substr(0, 20) +
                     "...', which is not a number");
            word.push_back(static_cast<char>(c));
            c = std::getc(file_);
        }
        if (std::ferror(file_))
            fail("Not able to read template file " + path_ + ": " + std::strerror(errno));
        return !word.empty();
    }

private:
    static bool isBlank(int c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

    std::FILE* file_;
    std::string path_;
};

template <typename T>
bool parseWhole(const std::string& word, T& value)
{
    const char* end = word.data() + word.size();
    const auto result = std::from_chars(word.data(), end, value);
    return result.ec == std::errc() && result.ptr == end;
}

bool endsWith(const std::string& s, const std::string& end)
{
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// W of a run has a row per frame and a column per component, so it is
// taller than wide, where templates have a column per bin; -m names it
// NAME-W.txt. Its column count is the run's K, and "-f K fits it" would
// lead to a run on nonsense.
bool looksLikeW(const std::string& path, long long rows, long long columns)
{
    return endsWith(path, "-W.txt") || endsWith(path, "-W.npy") || rows > columns;
}

std::string notTemplates(const std::string& path, long long rows, long long columns)
{
    const std::string what = "Template file " + path + " holds W of a run (" + std::to_string(rows) + " frames by " +
                             std::to_string(columns) + " components), not templates: give that run's H file";
    if (endsWith(path, "-W.txt") || endsWith(path, "-W.npy"))
        return what + ", " + path.substr(0, path.size() - 6) + "-H" + path.substr(path.size() - 4);
    return what + " (NAME-H.txt) instead";
}

// The checks of a template matrix's shape, before or after its values.
void checkShape(const std::string& path, long long rows, long long columns, int bins)
{
    if (rows == 0)
        fail("Template file " + path + " holds no rows");
    if (columns != bins && looksLikeW(path, rows, columns))
        fail(notTemplates(path, rows, columns));
    if (columns != bins)
        fail(columnMismatch(path, columns, bins));
}

// Every value a finite number of 0 or more; "-0" reads as the same zero as "0".
double templateValue(double x, const std::string& path, const std::string& word, long long n, long long columns)
{
    const std::string where = " at row " + std::to_string(n / columns + 1) + ", column " +
                              std::to_string(n % columns + 1);
    if (!std::isfinite(x))
        fail("Template file " + path + ": '" + word + "'" + where + " is not a finite number");
    if (x < 0)
        fail("Template file " + path + ": '" + word + "'" + where + " is negative");
    return 0.0 + x;
}

// An H file as --factors npy writes it.
Matrix readNpyTemplates(std::FILE* file, const std::string& path, int bins)
{
    Matrix m = readNpy(file, path, "Template file");
    checkShape(path, m.rows(), m.cols(), bins);
    for (int i = 0; i < m.size(); ++i) {
        const double x = m.data()[i];
        if (std::isfinite(x) && x >= 0) {
            m.data()[i] = 0.0 + x;
            continue;
        }
        // Only a refused value is written out, for its message.
        char word[32];
        std::snprintf(word, sizeof word, "%.17g", x);
        templateValue(x, path, word, static_cast<long long>(i), m.cols());
    }
    return m;
}

Matrix readTemplateFile(const std::string& path, int bins)
{
    const FileHandle file = openTemplateFile(path);
    // An .npy file starts with a byte that no text file of numbers holds.
    const int first = std::getc(file.get());
    std::ungetc(first, file.get());
    if (first == 0x93)
        return readNpyTemplates(file.get(), path, bins);

    WordReader reader(file.get(), path);
    std::string word;
    long long rows = 0, columns = 0;
    if (!reader.next(word) || !parseWhole(word, rows) || !reader.next(word) || !parseWhole(word, columns) ||
        rows < 0 || columns < 0)
        fail("Template file " + path + " does not start with a 'rows columns' header");
    checkShape(path, rows, columns, bins);
    if (rows > std::numeric_limits<int>::max() / std::max(1, bins))
        fail("Template file " + path + " claims " + std::to_string(rows) + " rows, more than a run can hold");

    // The values are kept as they come, so that a header claiming more than
    // the file holds costs no more memory than the file's own values.
    std::vector<double> values;
    const long long claimed = rows * columns;
    while (reader.next(word)) {
        const long long n = static_cast<long long>(values.size());
        if (n == claimed)
            fail("Template file " + path + " holds more values than its header's " + std::to_string(rows) + " x " +
                 std::to_string(columns));
        double x = 0;
        if (!parseWhole(word, x))
            fail("Template file " + path + ": '" + word + "' at row " + std::to_string(n / columns + 1) +
                 ", column " + std::to_string(n % columns + 1) + " is not a number");
        values.push_back(templateValue(x, path, word, n, columns));
    }
    if (static_cast<long long>(values.size()) < claimed)
        fail("Template file " + path + " ends after " + std::to_string(values.size()) + " of the " +
             std::to_string(claimed) + " values its header claims");
    Matrix m(static_cast<int>(rows), bins);
    std::copy(values.begin(), values.end(), m.data());
    return m;
}

}  // namespace

std::string columnMismatch(const std::string& file, long long columns, int bins)
{
    std::string message = "Template file " + file + " has " + std::to_string(columns) +
                          " columns, but this run has " + std::to_string(bins) + " bins; ";
    // Bins are half the transform length, and -f v gives the power of two
    // above v: -f columns fits when columns is a power of two.
    const bool power = columns > 0 && (columns & (columns - 1)) == 0 && columns <= (1 << 29);
    if (power)
        return message + "-f " + std::to_string(columns) + " fits it";
    return message + "no -f value fits it";
}

Matrix stackTemplates(const std::vector<NamedTemplates>& sources, int bins, std::vector<int>& rowsPerSource)
{
    int rows = 0;
    for (const NamedTemplates& source : sources) {
        rowsPerSource.push_back(source.rows.rows());
        rows += source.rows.rows();
    }
    if (rows == 0)
        return Matrix();
    Matrix all(rows, bins);
    double* to = all.data();
    for (const NamedTemplates& source : sources)
        to = std::copy(source.rows.data(), source.rows.data() + source.rows.size(), to);
    return all;
}

std::vector<NamedTemplates> loadTemplates(const std::vector<std::string>& options, int bins)
{
    std::vector<NamedTemplates> result;
    std::set<std::string> seen;
    for (const std::string& option : options) {
        const std::size_t eq = option.find('=');
        if (eq == std::string::npos || eq + 1 == option.size())
            fail("templates must be given as NAME=FILE (got '" + option + "')");
        const std::string name = option.substr(0, eq);
        checkName(name, option, seen);
        seen.insert(name);
        result.push_back(NamedTemplates{name, readTemplateFile(option.substr(eq + 1), bins)});
    }
    return result;
}

}  // namespace tessavo
