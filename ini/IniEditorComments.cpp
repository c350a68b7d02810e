// Comments as data: the comment lines above a key or a section and a key's
// inline comment read and replaced, and a key commented out and back in,
// each checked to leave every other line reading as before.
#include "IniEditor.h"

#include "IniEditorIndex.h"

#include <algorithm>

namespace ini {

using detail::isTrimmed;
using detail::LineId;
using detail::noLine;
using detail::otherValues;
using detail::refused;
using detail::trimmedSize;

namespace {

// A comment's text: without indentation, the comment character, the blanks
// after it and a CR at its end.
std::string comment_text(std::string_view line, const IniDialect& dialect) {
    std::size_t at = 0;
    while (at < line.size() &&
           (isTrimmed(line[at]) || dialect.extraBlanks.find(line[at]) != std::string::npos)) {
        ++at;
    }
    at += at < line.size() ? 1 : 0;
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) {
        ++at;
    }
    return std::string(line.substr(at, trimmedSize(line) > at ? trimmedSize(line) - at : 0));
}

}  // namespace

IniComment IniEditor::Index::commentBlock(LineId id) const {
    IniComment out;
    for (const LineId above : commentAbove(id)) {
        out.lines.push_back(comment_text(lines[above].content, dialect));
        out.raw.append(lines[above].content).append("\n");
    }
    return out;
}

std::optional<IniComment> IniEditor::comment(std::string_view section, std::string_view key) const {
    Index& index = *index_;
    const auto found = index.ownLine(section, key);
    if (!found) {
        return std::nullopt;
    }
    IniComment out = index.commentBlock(found->first);
    const IniLine& line = found->second;
    if (line.commentBegin < line.commentEnd) {
        const std::string_view content = index.lines[found->first].content;
        out.inlineRaw = content.substr(line.commentBegin, line.commentEnd - line.commentBegin);
        out.inlineText = comment_text(out.inlineRaw, index.dialect);
    }
    return out;
}

std::optional<IniComment> IniEditor::sectionComment(std::string_view section) const {
    Index& index = *index_;
    index.readAll();
    const Index::Section* owner = index.findSection(section);
    if (owner == nullptr || owner->headers.empty()) {
        return std::nullopt;
    }
    return index.commentBlock(owner->headers.front());
}

IniEditResult IniEditor::replaceComment(std::size_t target, std::string_view text) {
    Index& index = *index_;
    if (commentChar_ == '\0') {
        return refused("this format has no comments");
    }
    if (text.find('\r') != std::string_view::npos) {
        return refused("a comment cannot hold a CR");
    }
    const std::string_view eol = index.lineEnding();
    const std::string_view content = index.lines[target].content;
    const std::string indent(
        content.substr(0, indentation(content.substr(0, content.find('\n')), index.dialect)));
    std::vector<std::string> wanted;
    for (std::size_t at = 0; !text.empty() && at <= text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        const std::string_view piece = text.substr(at, end - at);
        wanted.push_back(indent + commentChar_ + (piece.empty() ? "" : " ") + std::string(piece) +
                         (eol.size() == 2 ? "\r" : ""));
        at = end + 1;
    }
    const std::vector<LineId> block = index.commentAbove(target);
    std::vector<std::string> texts;
    texts.reserve(block.size());
    for (const LineId id : block) {
        texts.push_back(comment_text(index.lines[id].content, index.dialect));
    }
    std::vector<std::string> wantedTexts;
    wantedTexts.reserve(wanted.size());
    for (const std::string& line : wanted) {
        wantedTexts.push_back(comment_text(line, index.dialect));
    }
    if (texts == wantedTexts) {
        return {IniEditStatus::unchanged, {}};
    }
    for (const LineId id : block) {
        index.unlink(id);
    }
    LineId after = index.lines[target].prev;
    for (std::string& line : wanted) {
        const LineId id = index.newLine(std::move(line), true);
        index.insertAfter(id, after);
        after = id;
    }
    reindex();
    return {IniEditStatus::changed, {}};
}

IniEditResult IniEditor::setComment(std::string_view section, std::string_view key, std::string_view text) {
    const auto found = index_->ownLine(section, key);
    if (!found) {
        return {IniEditStatus::absent, {}};
    }
    return replaceComment(found->first, text);
}

IniEditResult IniEditor::setSectionComment(std::string_view section, std::string_view text) {
    Index& index = *index_;
    index.readAll();
    const Index::Section* owner = index.findSection(section);
    if (owner == nullptr || owner->headers.empty()) {
        return {IniEditStatus::absent, {}};
    }
    return replaceComment(owner->headers.front(), text);
}

IniEditResult IniEditor::setInlineComment(std::string_view section, std::string_view key,
                                          std::string_view text) {
    Index& index = *index_;
    const IniDialect& dialect = index.dialect;
    if (dialect.inlineComments == IniDialect::InlineComments::none || dialect.inlineCommentChars.empty()) {
        return refused("this format has no inline comments");
    }
    if (text.find_first_of("\r\n") != std::string_view::npos) {
        return refused("an inline comment is one line");
    }
    const auto found = index.ownLine(section, key);
    if (!found) {
        return {IniEditStatus::absent, {}};
    }
    const auto& [id, line] = *found;
    const std::string_view content = index.lines[id].content;
    if (content.find('\n') != std::string_view::npos) {
        return refused("the value is on several lines");
    }
    const bool hasComment = line.commentBegin < line.commentEnd;
    if (comment_text(content.substr(line.commentBegin, line.commentEnd - line.commentBegin), dialect) ==
            text &&
        hasComment == !text.empty()) {
        return {IniEditStatus::unchanged, {}};
    }
    // The comment replaces the old one where it stood, or follows the value
    // after a blank; removing it takes the blanks before it too.
    const std::size_t from = hasComment && !text.empty() ? line.commentBegin : line.valueEnd;
    std::string replaced(content.substr(0, from));
    if (!text.empty()) {
        replaced += hasComment ? "" : " ";
        replaced += dialect.inlineCommentChars.front();
        replaced += " ";
        replaced += text;
    }
    replaced.append(content.substr(hasComment ? line.commentEnd : line.valueEnd));
    const IniLine scanned = scanLine(replaced, dialect);
    if (scanned.kind != IniLineKind::key || scanned.key != line.key || scanned.problem != nullptr ||
        valueOf(scanned, dialect) != valueOf(line, dialect) ||
        comment_text(std::string_view(replaced).substr(scanned.commentBegin,
                                                       scanned.commentEnd - scanned.commentBegin),
                     dialect) != text) {
        return refused("the line would not read as before with this comment");
    }
    index.setContent(id, std::move(replaced));
    return {IniEditStatus::changed, {}};
}

IniEditResult IniEditor::commentOut(std::string_view section, std::string_view key) {
    Index& index = *index_;
    index.readAll();
    const Index::Key* entry = index.findKey(section, key);
    if (entry == nullptr || entry->first == noLine) {
        return {IniEditStatus::absent, {}};
    }
    if (commentChar_ == '\0') {
        return refused("this format has no comments");
    }
    const std::string before = index.text();
    const std::size_t problemsBefore = problems().size();
    const auto othersBefore = otherValues(before, index.dialect, section, key);
    for (LineId id = entry->first; id != noLine; id = index.lines[id].nextOfKey) {
        // Each line of the key, continuation lines included, gets the
        // comment character in front.
        std::string commented(1, commentChar_);
        for (const char c : index.lines[id].content) {
            commented += c;
            commented += c == '\n' ? std::string(1, commentChar_) : std::string();
        }
        index.setContent(id, std::move(commented));
    }
    reindex();
    index_->readAll();
    const Index::Key* left = index_->findKey(section, key);
    if ((left != nullptr && left->first != noLine) || problems().size() > problemsBefore ||
        otherValues(index_->text(), index_->dialect, section, key) != othersBefore) {
        reindex(&before);
        return refused("commenting out the key would not remove it, or would change how other lines read");
    }
    return {IniEditStatus::changed, {}};
}

IniEditResult IniEditor::uncomment(std::string_view section, std::string_view key,
                                   std::optional<std::string_view> value) {
    Index& index = *index_;
    const LineId id = index.commentedOut(section, key, value);
    if (id == noLine) {
        return {IniEditStatus::absent, {}};
    }
    const auto countLines = [&] {
        std::size_t count = 0;
        index_->readAll();
        if (const Index::Key* entry = index_->findKey(section, key)) {
            for (LineId at = entry->first; at != noLine; at = index_->lines[at].nextOfKey) {
                ++count;
            }
        }
        return count;
    };
    const std::size_t linesBefore = countLines();
    const std::size_t problemsBefore = problems().size();
    const std::string before = index.text();
    const auto othersBefore = otherValues(before, index.dialect, section, key);
    index.setContent(id, index.uncommented(id).first);
    reindex();
    // The line must now be a line of the key in the section, not the
    // continuation of another, and one the owner accepts where it stands
    // (systemd rejects a key above the first header).
    if (countLines() != linesBefore + 1) {
        reindex(&before);
        return refused("the uncommented line would not read as a line of the key");
    }
    if (problems().size() > problemsBefore) {
        reindex(&before);
        return refused("the owner would reject the uncommented line");
    }
    if (otherValues(index_->text(), index_->dialect, section, key) != othersBefore) {
        reindex(&before);
        return refused("the uncommented line would change how the lines after it read");
    }
    return {IniEditStatus::changed, {}};
}

}  // namespace ini
