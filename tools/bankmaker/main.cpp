// qm-bankmaker: writes Quillmoor's synthetic sound banks.
//   qm-bankmaker demo <out.qmbank>      the demo bank
//   qm-bankmaker large <out.qmbank>     a bank with one category of more than 64 sounds
//   qm-bankmaker hostile <out.qmbank>   blobs at the limits of what the engine accepts
//   qm-bankmaker blobs <dir>            every blob of the three banks as a file of its own
//   qm-bankmaker list <bank.qmbank>     entry names and sizes of a stored-entry bank
#include "BankMaker.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace
{
int usage()
{
    std::fprintf(stderr, "usage: qm-bankmaker demo|large|hostile <out.qmbank>\n"
                         "       qm-bankmaker blobs <dir>\n"
                         "       qm-bankmaker list <bank.qmbank>\n");
    return 2;
}

int writeBank(const std::string& path, const std::vector<qmbank::BankEntry>& bank)
{
    if (!qmbank::writeBankZip(path, bank))
    {
        std::fprintf(stderr, "qm-bankmaker: cannot write %s\n", path.c_str());
        return 1;
    }
    return 0;
}

int writeBlobs(const std::string& dir)
{
    int count = 0;
    for (const auto& bank : {qmbank::demoBank(), qmbank::largeBank(), qmbank::hostileBank()})
        for (const qmbank::BankEntry& e : bank)
        {
            char file[32];
            std::snprintf(file, sizeof file, "/blob-%03d", count++);
            if (!qmbank::writeFile(dir + file, e.data))
            {
                std::fprintf(stderr, "qm-bankmaker: cannot write %s%s\n", dir.c_str(), file);
                return 1;
            }
        }
    return 0;
}

int listBank(const std::string& path)
{
    std::vector<uint8_t> zip;
    std::vector<qmbank::BankEntry> entries;
    if (!qmbank::readFile(path, &zip) || !qmbank::readBankZip(zip, &entries))
    {
        std::fprintf(stderr, "qm-bankmaker: cannot read %s\n", path.c_str());
        return 1;
    }
    for (const qmbank::BankEntry& e : entries)
        std::printf("%8zu  %s\n", e.data.size(), e.name.c_str());
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) return usage();
    const std::string command = argv[1];
    const std::string path = argv[2];
    if (command == "demo") return writeBank(path, qmbank::demoBank());
    if (command == "large") return writeBank(path, qmbank::largeBank());
    if (command == "hostile") return writeBank(path, qmbank::hostileBank());
    if (command == "blobs") return writeBlobs(path);
    if (command == "list") return listBank(path);
    return usage();
}
