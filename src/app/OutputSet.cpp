#include "app/OutputSet.h"

#include "app/Signals.h"

namespace tessavo {

OutputSet::OutputSet(const std::vector<std::string>& names)
{
    for (const std::string& name : names)
        files_.push_back(std::make_unique<PendingFile>(name));
}

void OutputSet::commit()
{
    for (const auto& file : files_)
        file->finish();
    HeldSignals held;
    for (const auto& file : files_)
        file->commit();
}

}  // namespace tessavo
