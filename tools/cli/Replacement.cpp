// Write-then-rename replacement of a command's output file.
#include "cli/Replacement.h"

#include <cstdio>

#include "cli/ErrorText.h"
#include "cli/Interrupt.h"

CReplacement::~CReplacement()
{
    if (!m_pending)
        return;
    m_file.Close();
    RemoveFile(m_file.Path());
    DiscardOnExit("");
}

bool CReplacement::Begin(const std::string& dst, const SystemFile& source, bool force)
{
    m_dst = dst;
    // A link is followed, as cp and gzip write through one: the file it
    // leads to is replaced and the link stays.
    m_target = ResolveLinks(dst);
    PathStatus status;
    if (int error = StatPath(m_target, &status)) {
        PrintSystemError(dst, error);
        return false;
    }
    const char* refusal = nullptr;
    if (status.kind != FileKind::Missing && status.identity == source.Identity())
        refusal = "is the source file itself";
    else if (status.kind == FileKind::Directory)
        refusal = "is a directory";
    else if (status.kind == FileKind::Other)
        refusal = "is not a regular file (a device, FIFO or socket)";
    else if (status.kind == FileKind::Regular && status.readOnly && !force)
        refusal = "is read-only (--force replaces it)";
    if (refusal != nullptr) {
        std::fprintf(stderr, "error: %s: %s; left as it is\n", dst.c_str(), refusal);
        return false;
    }
    WithoutInterrupts([&] {
        if (int error = m_file.CreateBeside(m_target, status.kind == FileKind::Regular ? status.mode : 0)) {
            PrintSystemError("cannot create a new file beside " + dst, error);
            return;
        }
        m_pending = true;
        DiscardOnExit(m_file.Path());
    });
    return m_pending;
}

bool CReplacement::Commit()
{
    if (int error = m_file.CloseChecked()) {
        PrintSystemError("writing " + m_dst, error);
        return false;
    }
    int error = 0;
    WithoutInterrupts([&] {
        error = RenameOver(m_file.Path(), m_target);
        if (error == 0) {
            m_pending = false;
            DiscardOnExit("");
        }
    });
    if (error != 0) {
        PrintSystemError("cannot replace " + m_dst, error);
        return false;
    }
    return true;
}
