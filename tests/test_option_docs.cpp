// Every option that the command line declares, and every value of those
// that take one of a few words, is described in the manual page, the
// program's --help, the README and the bash completion: an option added to
// the command line and left out of any of them fails here.

#include "app/Settings.h"

#include "support/Program.h"
#include "support/TestFiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>

using namespace tessavo;
using namespace tessavo::test;

namespace {

std::string sourceFile(const std::string& name)
{
    return readFile(std::string(TESSAVO_SOURCE_DIR) + "/" + name);
}

// The manual page's source with its escaped dashes as plain ones and
// without font changes (\fB, \fR, ...).
std::string manualPage()
{
    const std::string source = sourceFile("docs/tessavo.1");
    std::string text;
    for (std::size_t i = 0; i < source.size(); ++i) {
        if (source[i] == '\\' && i + 1 < source.size() && source[i + 1] == '-')
            continue;
        if (source[i] == '\\' && i + 2 < source.size() && source[i + 1] == 'f') {
            i += 2;
            continue;
        }
        text += source[i];
    }
    return text;
}

// word stands in text on its own: neither letters, digits, '_' nor '-'
// touch it (so --mask is not found in --maskpower, nor -d in -default).
bool mentions(const std::string& text, const std::string& word)
{
    auto part = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-'; };
    for (std::size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) {
        const bool before = at == 0 || !part(text[at - 1]);
        const bool after = at + word.size() == text.size() || !part(text[at + word.size()]);
        if (before && after)
            return true;
    }
    return false;
}

// The words the bash completion offers after a dash.
std::string completedOptions()
{
    const std::string text = sourceFile("completion/tessavo.bash");
    const std::string start = "_tessavo_options='";
    const std::size_t from = text.find(start);
    if (from == std::string::npos)
        return "";
    const std::size_t end = text.find('\'', from + start.size());
    return text.substr(from + start.size(), end - from - start.size());
}

}  // namespace

TEST(OptionDocs, EveryDeclaredOptionIsDescribedEverywhere)
{
    const std::vector<DeclaredOption> options = declaredOptions();
    // The list is the command line's own: the options of this release and
    // those TCLAP adds.
    std::vector<std::string> longNames;
    for (const DeclaredOption& o : options)
        longNames.push_back(o.name);
    for (const char* name : {"fftsize", "maxiterations", "criteria", "overlap", "threads", "silent", "matrixout", "loss",
                             "templates", "mask", "maskpower", "precision", "outdir", "encoding", "pad", "seed",
                             "sources", "continuity", "sparsity", "tolerance", "factors", "no-sounds", "help",
                             "version", "ignore_rest"})
        EXPECT_NE(std::find(longNames.begin(), longNames.end(), name), longNames.end()) << name;
    EXPECT_EQ(options.size(), 25u);

    ScratchDir dir;
    const RunResult help = runTessavo({"--help"}, dir.path());
    ASSERT_EQ(help.status, 0);
    const std::pair<std::string, std::string> places[] = {{"the manual page", manualPage()},
                                                         {"--help", help.out},
                                                         {"README.md", sourceFile("README.md")},
                                                         {"the bash completion's options", completedOptions()}};
    for (const auto& [place, text] : places) {
        ASSERT_GT(text.size(), 100u) << place << " is missing or nearly empty";
        for (const DeclaredOption& o : options) {
            EXPECT_TRUE(mentions(text, "--" + o.name)) << place << " does not mention --" << o.name;
            if (!o.flag.empty()) {
                EXPECT_TRUE(mentions(text, "-" + o.flag))
                    << place << " does not mention -" << o.flag << " (--" << o.name << ")";
            }
            if (place == "the bash completion's options")
                continue;  // its values: the next test
            for (const std::string& value : o.values)
                EXPECT_TRUE(mentions(text, value)) << place << " does not mention " << value << ", a value of --" << o.name;
        }
    }
}

// The values that the help and the completion offer are exactly the ones the
// command line accepts.
TEST(OptionDocs, ValueListsAreTheAcceptedOnes)
{
    for (const DeclaredOption& o : declaredOptions()) {
        if (o.values.empty())
            continue;
        for (const std::string& value : o.values) {
            std::vector<const char*> words = {"tessavo", "a.wav", "2", nullptr, value.c_str()};
            const std::string flag = "--" + o.name;
            words[3] = flag.c_str();
            Settings s;
            EXPECT_NO_THROW(parseSettings(static_cast<int>(words.size()), words.data(), s, ParseFailure::throwException))
                << flag << " " << value;
        }
    }
    const std::string completion = sourceFile("completion/tessavo.bash");
    for (const auto& [option, list] : std::vector<std::pair<std::string, std::string>>{
             {"loss", "euclidean kl is"}, {"mask", "direct soft"}, {"encoding", "pcm16 pcm24 pcm32 float double"}}) {
        std::string joined;
        for (const DeclaredOption& o : declaredOptions())
            if (o.name == option)
                for (const std::string& v : o.values)
                    joined += (joined.empty() ? "" : " ") + v;
        EXPECT_EQ(joined, list) << option;
        EXPECT_NE(completion.find("compgen -W '" + list + "'"), std::string::npos) << option;
    }
}
