#include "app/MatrixFiles.h"

#include "app/PendingFile.h"
#include "app/RunError.h"
#include "factorisation/MatrixText.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace tessavo {

namespace {

void writeMatrixFile(const std::string& name, const Matrix& m)
{
    PendingFile pending(name);
    std::ofstream out(pending.tempName(), std::ios::out | std::ios::trunc);
    if (!out)
        throw RunError("Not able to open output file " + name + "\n" + std::strerror(errno) + "\n");
    out << m;
    out.close();
    if (!out)
        throw RunError("Not able to write output file " + name + "\n");
    pending.commit();
}

}  // namespace

void writeMatrixFiles(const std::string& filename, const Matrix& w, const Matrix& h)
{
    writeMatrixFile(filename + "-W.txt", w);
    writeMatrixFile(filename + "-H.txt", h);
}

}  // namespace tessavo
