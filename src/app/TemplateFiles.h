#pragma once
// The fixed spectral templates of the named sources (--templates NAME=FILE).
//
// FILE is an H file as the program writes it: a "rows columns" header, then
// rows × columns values, each separated by white space; or the .npy file of
// H that --factors npy writes (known by its first byte, whatever its name).
// Every row is one template, columns long: one value per bin of the run.
// Every value must be a finite number of 0 or more.
//
// NAME names the source and its output (song-NAME.wav): letters, digits,
// '_', '-' and '.', not all digits (the free components' outputs are
// numbered), not "residual", each name once.

#include "core/Matrix.h"

#include <string>
#include <vector>

namespace tessavo {

struct NamedTemplates {
    std::string name;
    Matrix rows;  // templates × bins
};

// Reads every NAME=FILE option, in order, for a run with bins bins.
// Throws RunError with a one-line message for the first option, name or
// file that is not usable.
std::vector<NamedTemplates> loadTemplates(const std::vector<std::string>& options, int bins);

// Every source's templates, one after another (the empty matrix for none);
// rowsPerSource gains how many each source has.
Matrix stackTemplates(const std::vector<NamedTemplates>& sources, int bins, std::vector<int>& rowsPerSource);

// The message for a template file of columns values per row in a run of
// bins bins, naming the fftsize option that would fit it, if one does.
std::string columnMismatch(const std::string& file, long long columns, int bins);

}  // namespace tessavo
