// A cover art archive's answer: the picture taken (size and type by its
// bytes) as the MusicBrainz look-up takes it, then put into a track's tag.
#include <cstdlib>

#include "FuzzSupport.h"
#include "disc/MusicBrainzClient.h"
#include "output/ID3Tag.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    qm::HttpReply reply;
    reply.done = true;
    reply.status = 200;
    reply.type = "image/jpeg";
    reply.body.assign(reinterpret_cast<const char*>(data), size);
    CMusicBrainz client;
    std::string bytes;
    std::string mime;
    if (client.TakeFrontCover(reply, &bytes, &mime) != CMusicBrainz::kOk) {
        return 0;
    }
    if ((mime != "image/jpeg" && mime != "image/png") || bytes.size() != size) {
        std::abort();
    }
    CID3Tag tag;
    tag.SetPicture(bytes, mime);
    if (!tag.HasPicture() || tag.GetPictureType() != mime) {
        std::abort();
    }
    return 0;
}
