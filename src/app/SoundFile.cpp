#include "app/SoundFile.h"

#include "app/PendingFile.h"
#include "app/RunError.h"

#include <limits>

namespace tessavo {

namespace {

// Closes a library handle on every path out of a scope.
class SoundHandle {
public:
    explicit SoundHandle(SNDFILE* handle) : handle_(handle) {}
    ~SoundHandle() { close(); }
    SoundHandle(const SoundHandle&) = delete;
    SoundHandle& operator=(const SoundHandle&) = delete;

    SNDFILE* get() const { return handle_; }
    // Returns the library's result; the handle is gone afterwards.
    int close()
    {
        const int result = handle_ ? sf_close(handle_) : 0;
        handle_ = nullptr;
        return result;
    }

private:
    SNDFILE* handle_;
};

}  // namespace

InputSound readSoundFile(const std::string& filename)
{
    InputSound input;
    SF_INFO& info = input.info;  // all zero, as the library asks for non-raw input
    SoundHandle file(sf_open(filename.c_str(), SFM_READ, &info));
    if (!file.get())
        throw RunError("Not able to open input file " + filename + "\n" + sf_strerror(nullptr));

    if (info.channels > 2)
        throw RunError("Not able to process more than " + std::to_string(2) + " channels\n");
    if (info.channels < 1)
        throw RunError("Not able to process " + std::to_string(info.channels) + " channels\n");

    // Sample counts are 32-bit: the interleaved stereo buffer holds 2 x frames.
    const sf_count_t limit = std::numeric_limits<int>::max() / info.channels;
    if (info.frames < 0 || info.frames > limit)
        throw RunError("Not able to process input file " + filename + ": more than " + std::to_string(limit) +
                       " frames\n");
    const int frames = static_cast<int>(info.frames);

    if (info.channels == 1) {
        input.channels.emplace_back(frames);
        // A short read is not an error: undelivered samples stay 0.0.
        sf_read_float(file.get(), input.channels[0].data(), frames);
        return input;
    }

    SampleBuffer interleaved(2 * frames);
    input.channels.emplace_back(frames);
    input.channels.emplace_back(frames);
    sf_read_float(file.get(), interleaved.data(), 2 * static_cast<sf_count_t>(frames));
    file.close();
    float* left = input.channels[0].data();
    float* right = input.channels[1].data();
    for (int i = 0; i < frames; ++i) {
        left[i] = interleaved[2 * i];
        right[i] = interleaved[2 * i + 1];
    }
    return input;
}

std::size_t dotPosition(const std::string& filename)
{
    const std::size_t slash = filename.rfind('/');
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = filename.rfind('.');
    // A dot in a folder name, or a leading dot as in ".hidden", is no extension.
    if (dot == std::string::npos || dot <= start)
        return std::string::npos;
    return dot;
}

std::string outputName(const std::string& filename, std::size_t dot, const std::string& suffix)
{
    if (dot == std::string::npos || dot > filename.size())
        return filename + suffix;
    std::string name = filename;
    name.insert(dot, suffix);
    return name;
}

void writeSoundFile(const std::string& name, const SF_INFO& record, const std::vector<SampleBuffer>& channels,
                    SampleBuffer* scratch)
{
    SF_INFO info = record;
    const int n = channels.empty() ? 0 : channels[0].length();
    info.channels = static_cast<int>(channels.size());
    info.frames = n;

    SampleBuffer ownStore;
    SampleBuffer& interleavedStore = scratch ? *scratch : ownStore;
    const float* samples = nullptr;
    if (channels.size() == 1) {
        samples = channels[0].data();
    } else {
        if (interleavedStore.length() != 2 * n)
            interleavedStore = SampleBuffer(2 * n);
        const float* a = channels[0].data();
        const float* b = channels[1].data();
        for (int i = 0; i < n; ++i) {
            interleavedStore[2 * i] = a[i];
            interleavedStore[2 * i + 1] = b[i];
        }
        samples = interleavedStore.data();
    }
    const sf_count_t items = static_cast<sf_count_t>(n) * info.channels;

    PendingFile pending(name);
    SoundHandle file(sf_open(pending.tempName().c_str(), SFM_WRITE, &info));
    if (!file.get())
        throw RunError("Not able to open output file " + name + "\n" + sf_strerror(nullptr));
    // Integer encodings: clip beyond +-1.0 instead of wrapping around.
    sf_command(file.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);
    // The float formats' peak chunk carries the time of writing; without it
    // the same input and options give the same bytes on every run.
    sf_command(file.get(), SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);

    const sf_count_t written = items > 0 ? sf_write_float(file.get(), samples, items) : 0;
    if (written != items) {
        const std::string reason = sf_strerror(file.get());
        throw RunError("Not able to write output file " + name + "\n" + reason);
    }
    if (file.close() != 0)
        throw RunError("Not able to write output file " + name + "\n" + sf_strerror(nullptr));
    pending.commit();
}

}  // namespace tessavo
