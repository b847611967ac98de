// Edits the comment header of an Ogg Vorbis file: Open reads the stream's
// three Vorbis header packets (identification, comments, set-up) through
// libogg and libvorbis and hands out the comments; Write copies the stream to
// another file with a new comment packet in place of the old one.
//
// Only the header pages are made anew. Every later page is copied as it was
// read; pages of the edited stream get new sequence numbers (and checksums)
// only when the header now takes a different number of pages. Bytes that do
// not form a page (a damaged or cut-off end) are copied unchanged, so the
// rewrite never loses anything the file held.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

class COggCommentEditor {
public:
    COggCommentEditor();
    COggCommentEditor(const COggCommentEditor&) = delete;
    COggCommentEditor& operator=(const COggCommentEditor&) = delete;
    virtual ~COggCommentEditor();

    // Reads up to the end of the Vorbis headers of the first stream in `in`,
    // which must stay open until Write. False with GetLastError() set when
    // the file is not Ogg Vorbis or ends early.
    bool Open(std::FILE* in);
    const std::string& GetVendor() const { return m_vendor; }
    // The comments as read, "KEY=value" each, in file order.
    const std::vector<std::string>& GetComments() const { return m_comments; }
    // Writes the whole stream to `out` with `comments` as its comments.
    bool Write(std::FILE* out, const std::vector<std::string>& comments);

    const std::string& GetLastError() const { return m_lastError; }

private:
    struct State;

    bool ReadMore();
    bool Fail(const char* message);

    std::unique_ptr<State> m_state;
    std::FILE* m_in = nullptr;
    std::string m_vendor;
    std::vector<std::string> m_comments;
    std::string m_lastError;
};
