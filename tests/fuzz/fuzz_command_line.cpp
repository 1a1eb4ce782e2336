// Arbitrary bytes as a command line, one word per line after the program's
// name, through the parser and the range checks. Whatever is accepted must
// be settings the run can use; a violated invariant is a finding, as is
// every exception other than the parser's and the program's own rejections.

#include "app/RunError.h"
#include "app/Settings.h"

#include <tclap/CmdLine.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using namespace tessavo;

namespace {

// Lines of the input; a final line break ends the last word rather than
// starting an empty one, so corpus files read as text.
std::vector<std::string> words(const std::uint8_t* data, std::size_t size)
{
    std::vector<std::string> w = {"tessavo"};
    std::string word;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == '\n') {
            w.push_back(word);
            word.clear();
        } else {
            word += static_cast<char>(data[i]);
        }
    }
    if (size > 0 && data[size - 1] != '\n')
        w.push_back(word);
    return w;
}

void check(bool invariant)
{
    if (!invariant)
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::vector<std::string> line = words(data, size);
    // TCLAP keeps "--" (ignore the rest) in a process-wide flag that nothing
    // resets: one such input would change how every later one parses.
    for (const std::string& w : line)
        if (w == "--")
            return 0;

    // As the process receives them: a word ends at its first zero byte.
    std::vector<const char*> argv;
    std::vector<std::string> received;
    for (const std::string& w : line) {
        argv.push_back(w.c_str());
        received.emplace_back(w.c_str());
    }

    Settings s;
    try {
        parseSettings(static_cast<int>(argv.size()), argv.data(), s, ParseFailure::throwException);
    } catch (const TCLAP::ArgException&) {
        return 0;
    } catch (const TCLAP::ExitException&) {
        return 0;  // --help or --version
    } catch (const RunError&) {
        return 0;
    }

    check(s.fftsize >= 2 && (s.fftsize & (s.fftsize - 1)) == 0);
    check(s.windowsize == s.fftsize);
    check(s.overlap >= 1 && s.overlap <= s.fftsize);
    check(!s.pad || s.overlap >= 3);
    check(s.components >= 0);
    check(s.threads >= 0);
    // Only the names the help lists, and no empty folder name.
    const std::vector<std::string> encodings = {"", "pcm16", "pcm24", "pcm32", "float", "double"};
    check(std::find(encodings.begin(), encodings.end(), s.encoding) != encodings.end());
    check(s.outdir.empty() || std::find(received.begin(), received.end(), s.outdir) != received.end());
    return 0;
}
