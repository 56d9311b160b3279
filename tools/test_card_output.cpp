// The test card written through the library's own output, as a
// conversion's destination: staged and put in place only when complete, an
// existing file's identity kept, a dangling link refused.

#include <memory>

#include "file_name.h"
#include "output_stream.h"
#include "test_card.h"

namespace kestovatiff_cli {

bool WriteTestCard(const std::string& path)
{
    const std::vector<uint8_t> file = TestCardBmp();
    const std::u16string path16 = FileNameToUtf16(path);
    kestova::OutputFile output;
    const auto stream = std::make_unique<kestova::OutputStream>(output);
    kestova::Status status = kestova::OpenOutput(path16.c_str(), output, stream->Idle());
    if (status == kestova::Status::Ok) {
        stream->PutBytes(file.data(), file.size());
        status = stream->Finish();
    }
    if (status != kestova::Status::Ok) {
        kestova::DiscardOutput(output);
        return false;
    }
    return kestova::CommitOutput(output, stream->Idle()) == kestova::Status::Ok;
}

}  // namespace kestovatiff_cli
