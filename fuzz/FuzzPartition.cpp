// The partition-table scan (MBR with its EBR chain, GPT, a disk without a
// table, volumes named by their backup boot records) and the boot-record
// search (with the placement of copies at their volume's start) over a raw
// disk made of the input.

#include "FuzzImage.h"
#include "images/raw/FileReadSeekRaw.h"
#include "volumes/Partition.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = qis::fuzz::imagePath(".img");
    qis::fuzz::setImage(path, data, size);
    qis::FileReadSeekRaw reader;
    if (!reader.open(path))
        return 0;
    qis::NullReporter page;
    for (bool gpt : {false, true}) {
        qis::Partition partition;
        partition.gptMode = gpt;
        qis::scanPartitionTable(reader, partition, page);
    }
    for (bool skip : {true, false}) {
        qis::Partition partition;
        partition.skipVolumes = skip;
        qis::PauseGate gate;
        qis::JobContext job(page, gate);
        qis::searchBootSectors(reader, partition, reader.diskSectorCount, job);
    }
    return 0;
}
