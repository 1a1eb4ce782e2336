#include "app/Settings.h"

#include "app/RunError.h"
#include "app/SoundFile.h"
#include "app/Version.h"

#include <tclap/CmdLine.h>

#include <cmath>
#include <initializer_list>
#include <iostream>
#include <vector>

namespace tessavo {

namespace {

// A number read as TCLAP reads one, except that an empty word is an error:
// TCLAP's own reading takes "" as no value at all and keeps the default.
template <typename T>
struct Number {
    T value;
    Number(T v = T()) : value(v) {}  // NOLINT: TCLAP constructs it from the default
    Number& operator=(const std::string& text)
    {
        if (text.empty())
            throw TCLAP::ArgParseException("Couldn't read argument value from string ''");
        TCLAP::ExtractValue(value, text, TCLAP::ValueLike());
        return *this;
    }
};

}  // namespace

}  // namespace tessavo

// TCLAP hands the whole word to the assignment above.
template <typename T>
struct TCLAP::ArgTraits<tessavo::Number<T>> {
    using ValueCategory = StringLike;
};

namespace tessavo {

int transformSize(int v)
{
    // Position of the highest set bit, in integers: a floating-point log2
    // could make an exact power of two lose one.
    int e = 0;
    while ((v >> (e + 1)) != 0)
        ++e;
    return 2 << e;
}

namespace {

void checkRanges(int fftOption, const Settings& s)
{
    if (fftOption < 1 || fftOption > maxFftsizeOption)
        throw RunError("fftsize must be between 1 and " + std::to_string(maxFftsizeOption) + "\n");
    if (s.overlap < 1 || s.overlap > s.fftsize)
        throw RunError("overlap must be between 1 and the transform size " + std::to_string(s.fftsize) + "\n");
    if (s.components < 0)
        throw RunError("components must be 0 or more\n");
    if (s.threads < 0)
        throw RunError("threads must be 0 (all cores) or more\n");
    if (!(s.maskPower > 0.0 && s.maskPower <= maxMaskPower))
        throw RunError("maskpower must be above 0 and at most " + std::to_string(static_cast<int>(maxMaskPower)) +
                       "\n");
    // With one or two frames over each sample, the sine windows vanish
    // together where they cross zero, and nothing rebuilds those samples.
    if (s.pad && s.overlap < 3)
        throw RunError("pad needs overlap 3 or more\n");
    if (s.precision < 1 || s.precision > maxPrecision)
        throw RunError("precision must be between 1 and " + std::to_string(maxPrecision) + "\n");
    if (!(s.tolerance >= 0.0 && std::isfinite(s.tolerance)))
        throw RunError("tolerance must be a finite number, 0 or more\n");
    if (s.seed < 0)
        throw RunError("seed must be 0 or more\n");
    if (s.sources != 0 && (s.sources < 2 || s.sources > s.components))
        throw RunError("sources must be between 2 and the number of components (" + std::to_string(s.components) +
                       ")\n");
    if (!(s.continuity >= 0.0 && std::isfinite(s.continuity)))
        throw RunError("continuity must be a finite number, 0 or more\n");
    if (!(s.sparsity >= 0.0 && std::isfinite(s.sparsity)))
        throw RunError("sparsity must be a finite number, 0 or more\n");
}

}  // namespace

namespace {

std::vector<std::string> encodingNames()
{
    std::vector<std::string> names;
    for (const OutputEncoding& e : outputEncodings())
        names.push_back(e.name);
    return names;
}

// Every declaration of the command line, added to cmd once they all exist.
struct CommandLine {
    const std::vector<std::string> lossNames{"euclidean", "kl", "is"};
    const std::vector<std::string> maskNames{"direct", "soft"};
    const std::vector<std::string> factorsNames{"text", "npy"};
    const std::vector<std::string> encodings = encodingNames();
    TCLAP::ValuesConstraint<std::string> lossValues{lossNames};
    TCLAP::ValuesConstraint<std::string> maskValues{maskNames};
    TCLAP::ValuesConstraint<std::string> factorsValues{factorsNames};
    TCLAP::ValuesConstraint<std::string> encodingValues{encodings};

    TCLAP::CmdLine cmd{"tessavo", ' ', kVersion};
    TCLAP::UnlabeledValueArg<std::string> filename{"filename", "Filename", true, "default.wav", "filename"};
    TCLAP::UnlabeledValueArg<Number<int>> components{"components", "number of components", true, 2, "#components"};
    TCLAP::ValueArg<Number<int>> fftsize{"f", "fftsize", "fftsize", false, 4096, "long"};
    TCLAP::ValueArg<Number<int>> maxiterations{"i", "maxiterations", "max number of iterations", false, 1000, "long"};
    TCLAP::ValueArg<Number<double>> criteria{"c", "criteria", "stopping criteria", false, 0.001, "double"};
    TCLAP::ValueArg<Number<double>> tolerance{
        "", "tolerance",
        "stop when the objective changes by less than this fraction of itself from one pass to the next, "
        "in place of the criteria (default 0: the criteria)",
        false, 0.0, "double"};
    TCLAP::ValueArg<Number<int>> overlap{"o", "overlap", "overlap", false, 4, "long"};
    TCLAP::SwitchArg silent{"s", "silent", "don't be verbose", false};
    TCLAP::SwitchArg matrixout{"m", "matrixout", "output W and H matrices", false};
    TCLAP::ValueArg<std::string> factors{"", "factors",
                                         "write W and H as text files or as NumPy .npy files, with "
                                         "NAME-factors.json beside them: the rate, hop, each W row's time and "
                                         "each H column's frequency (implies -m)",
                                         false, "", &factorsValues};
    TCLAP::SwitchArg noSounds{"", "no-sounds",
                              "write the factor files only, no sounds (to learn templates); needs -m or --factors",
                              false};
    TCLAP::ValueArg<Number<int>> threads{"t", "threads", "worker threads (0 = all cores)", false, 0, "long"};
    TCLAP::ValueArg<std::string> loss{"", "loss",
                                      "what the factorisation minimises: euclidean distance, kl "
                                      "(generalised Kullback-Leibler) divergence or is (Itakura-Saito) "
                                      "divergence",
                                      false, "euclidean", &lossValues};
    TCLAP::MultiArg<std::string> templates{"", "templates",
                                           "a named source NAME: the rows of FILE, an H file as -m writes it, "
                                           "as fixed spectral templates",
                                           false, "NAME=FILE"};
    TCLAP::ValueArg<std::string> mask{"", "mask",
                                      "how outputs are rebuilt: direct (each model magnitude) or "
                                      "soft (the input's spectrum under soft masks)",
                                      false, "direct", &maskValues};
    TCLAP::ValueArg<Number<double>> maskpower{
        "", "maskpower", "exponent of the soft masks, above 0 and at most 10 (default 2)", false, 2.0, "double"};
    TCLAP::ValueArg<Number<int>> precision{
        "", "precision", "significant digits of the W and H files, 1 to 17 (default 6; 17 reads back exactly)",
        false, 6, "long"};
    TCLAP::ValueArg<std::string> outdir{"d", "outdir",
                                        "the folder that every output goes into, named after the input's last "
                                        "path component; it must exist and be writable (default: the input's "
                                        "own folder)",
                                        false, "", "folder"};
    TCLAP::ValueArg<std::string> encoding{"", "encoding",
                                          "the outputs' sample encoding in the input's file format: pcm16, pcm24 "
                                          "or pcm32 (integers, clipped at full scale), float or double (keep "
                                          "values beyond full scale) (default: the input's)",
                                          false, "", &encodingValues};
    TCLAP::SwitchArg pad{"", "pad",
                         "rebuild every sample: the analysis sees zeros before and after the input, and every "
                         "output has the input's length",
                         false};
    TCLAP::ValueArg<Number<int>> seed{"", "seed",
                                      "where the random start begins: another seed gives another factorisation "
                                      "of the same input (default 1)",
                                      false, 1, "long"};
    TCLAP::ValueArg<Number<int>> sources{"", "sources",
                                         "group the free components into this many sources, 2 to COMPONENTS, "
                                         "written in place of the components",
                                         false, 0, "long"};
    TCLAP::ValueArg<Number<double>> continuity{
        "", "continuity",
        "weight of a cost on abrupt changes in each component's activations over time, 0 or more, "
        "relative to the input's level (default 0: none)",
        false, 0.0, "double"};
    TCLAP::ValueArg<Number<double>> sparsity{
        "", "sparsity",
        "weight of a cost on activations that are busy rather than sparse in time, 0 or more, "
        "relative to the input's level (default 0: none)",
        false, 0.0, "double"};

    CommandLine()
    {
        for (TCLAP::Arg* arg : std::initializer_list<TCLAP::Arg*>{
                 &filename, &components, &fftsize, &maxiterations, &criteria, &tolerance, &overlap, &silent, &matrixout,
                 &factors, &noSounds, &threads, &loss, &templates, &mask, &maskpower, &precision, &outdir, &encoding, &pad, &seed,
                 &sources, &continuity, &sparsity})
            cmd.add(arg);
    }
};

}  // namespace

void parseSettings(int argc, const char* const* argv, Settings& settings, ParseFailure onFailure)
{
    try {
        CommandLine line;
        line.cmd.setExceptionHandling(onFailure == ParseFailure::exitProcess);

        // TCLAP takes a mutable vector of words; it never writes through them.
        std::vector<std::string> words(argv, argv + argc);
        line.cmd.parse(words);

        settings.filename = line.filename.getValue();
        settings.components = line.components.getValue().value;
        const int fftOption = line.fftsize.getValue().value;
        settings.maxiterations = line.maxiterations.getValue().value;
        settings.criteria = line.criteria.getValue().value;
        settings.tolerance = line.tolerance.getValue().value;
        settings.overlap = line.overlap.getValue().value;
        settings.verbose = !line.silent.getValue();
        settings.factors = line.factors.getValue();
        settings.matrixout = line.matrixout.getValue() || !settings.factors.empty();
        settings.sounds = !line.noSounds.getValue();
        settings.threads = line.threads.getValue().value;
        const std::string& lossName = line.loss.getValue();
        settings.loss = lossName == "kl" ? Loss::kl : lossName == "is" ? Loss::is : Loss::euclidean;
        settings.templates = line.templates.getValue();
        settings.mask = line.mask.getValue() == "soft" ? MaskMode::soft : MaskMode::direct;
        settings.maskPower = line.maskpower.getValue().value;
        settings.precision = line.precision.getValue().value;
        settings.outdir = line.outdir.getValue();
        settings.encoding = line.encoding.getValue();
        settings.pad = line.pad.getValue();
        settings.seed = line.seed.getValue().value;
        settings.sources = line.sources.getValue().value;
        settings.continuity = line.continuity.getValue().value;
        settings.sparsity = line.sparsity.getValue().value;
        if (fftOption >= 1 && fftOption <= maxFftsizeOption)
            settings.fftsize = transformSize(fftOption);
        settings.windowsize = settings.fftsize;
        checkRanges(fftOption, settings);
        // An empty folder name would quietly mean the input's own folder.
        if (line.outdir.isSet() && settings.outdir.empty())
            throw RunError("outdir must name a folder\n");
        if (!settings.sounds && !settings.matrixout)
            throw RunError("no-sounds needs -m or --factors: without them the run would write nothing\n");
    } catch (const TCLAP::ArgException& e) {
        if (onFailure == ParseFailure::throwException)
            throw;
        std::cerr << "error: " << e.error() << " for arg " << e.argId() << std::endl;
    }
}

std::vector<DeclaredOption> declaredOptions()
{
    CommandLine line;
    std::vector<DeclaredOption> options;
    for (TCLAP::Arg* arg : line.cmd.getArgList()) {
        if (arg == &line.filename || arg == &line.components)
            continue;
        DeclaredOption option{arg->getFlag(), arg->getName(), {}};
        if (arg == &line.loss)
            option.values = line.lossNames;
        else if (arg == &line.mask)
            option.values = line.maskNames;
        else if (arg == &line.factors)
            option.values = line.factorsNames;
        else if (arg == &line.encoding)
            option.values = line.encodings;
        options.push_back(option);
    }
    return options;
}

}  // namespace tessavo
