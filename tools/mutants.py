"""The mutant catalogue of tools/mutate.

Each mutant is a bug a person could write against the contracts of the
public headers (include/), docs/protocol.md and README.md: an exact text of
one source file (it must occur there exactly once), its replacement, the
tests expected to notice (a ctest -R regex) and what the bug breaks.
`equivalent` gives the reason no test can tell the mutant apart; such a
mutant is listed but not built. `quick` marks the few that tools/mutate
--quick runs in CI: cheap to build and to test, each once caught. `build`
names the build whose tests must notice: "default", "tsan" (a fault only
the thread sanitizer sees; the concurrency tests run) or "mingw" (the
Windows backend; the suite runs under wine). `blind` marks the mutants of
tools/mutants_blind.py, written from include/, docs/ and src/ alone.
"""

import collections

Mutant = collections.namedtuple(
    "Mutant", "id file original replacement tests description quick equivalent build blind")


def M(id, file, original, replacement, tests, description, quick=False, equivalent=None,
      build="default", blind=False):
    return Mutant(id, file, original, replacement, tests, description, quick, equivalent, build, blind)


# ctest regexes by test program.
SOCKET = "^(Transport|Framing|Setup|Reception|ErrorText|Concurrency|WaitFlag)"
DEVICE = "^(AckModes|Asdu10|Framings|DeviceConnect|ExtensionApi|ExtensionProgress|SharedObject|Concurrency)"
HOST = "^(CodecExports|HostBoundary|HostConcurrency|ServiceExports|PlantedNames|SpecialFiles|ShellStartSearch)"
SERVICE = ("^(CloseFileOnStatus|CompressedCopy|CreateDirectoryPath|CreateReceiveFile|DeleteDirectoryTree|"
           "DeletePath|FileExists|FileFind|FileSharing|ForceDeleteFile|GetFileInfo|GetFileVersionString|"
           "ListDirectory|MakeDirectory|OpenSendFile|ProgramStart|ReplyNotSupported|ReservedOperations|"
           "ShellStart|SplitCommandLine|SplitProgramCommand|StatusFlags|Wildcard)")
LZH = "^(Lzhuf|lzh_cli|fuzz_replay_lzh)"
FOUNDATION = "^(DebugLog|LogFile|ErrorState|ConnectionObject|ErrorText|SystemErrors)"
API = "^(ExportsUnconnected|c_api_test|ExtensionApi|ExtensionProgress)"

MUTANTS = [
    # ---------------------------------------------------------------- api
    M("api-meaning-71003-71004", "src/api/ErrorMeaning.cpp",
      '{71003, "the device answered with an unexpected command"},',
      '{71004, "the device answered with an unexpected command"},',
      API + "|" + DEVICE, "71003 and 71004 swapped in the table of meanings", quick=True),
    M("api-meaning-10054-text", "src/api/ErrorMeaning.cpp",
      '{10054, "connection reset by the device"},',
      '{10054, "connection refused by the device"},',
      API, "the meaning of 10054 mistyped"),
    M("api-meaning-unknown-code", "src/api/ErrorMeaning.cpp",
      'return "device error " + std::to_string(code);',
      'return "device error";',
      API, "an unknown code's meaning without its number"),
    M("api-copytext-terminator", "src/api/TextCopy.h",
      "std::size_t n = text.size() < static_cast<std::size_t>(size) ? text.size()",
      "std::size_t n = text.size() <= static_cast<std::size_t>(size) ? text.size()",
      API + "|" + HOST, "a text exactly as long as the buffer overruns it by its terminator"),
    M("api-waitlimit-microseconds", "src/api/ExtensionExports.cpp",
      "static_cast<int32_t>(ms % 1000) * 1000};",
      "static_cast<int32_t>(ms % 1000)};",
      API + "|" + HOST, "the milliseconds of a wait limit stored as microseconds"),
    M("api-connectport-default-port", "src/api/ExtensionExports.cpp",
      "s.ConnectPort(host, port != 0 ? port : DEVICE_PORT)",
      "s.ConnectPort(host, port)",
      API + "|" + HOST + "|" + DEVICE, "port 0 no longer means the device port 30282"),
    M("api-cancel-null-object", "src/api/ExtensionExports.cpp",
      "    return RequestCancel(obj) ? 0 : COMM_ERR_NOT_CONNECTED;",
      "    return RequestCancel(obj) ? 0 : 0;",
      API + "|" + HOST, "a cancel on a NULL object reports success instead of 71006"),
    M("api-waitdone-fetch-count", "src/api/ObjectRegistry.cpp",
      "        if (fetch)\n            ++it->second.fetches;",
      "",
      HOST + "|^(LifeCycle|Reentry)", "WaitTransferDone says nothing runs while a fetch holds the object"),
    M("api-reentry-allowed", "src/api/ObjectHandle.h",
      "    if (call.ReEntered())\n        return COMM_ERR_BUSY;",
      "",
      "^(LifeCycle|Reentry)", "a callback's call back into its own object's exchange is accepted"),
    M("api-compress-null-write", "src/api/CompressExports.cpp",
      "    if (read == nullptr || write == nullptr)\n        return VEXACOMM_ERR_FILE_CREATE;\n    try {\n        CCallbackSource source(read, readUser, length);",
      "    if (read == nullptr)\n        return VEXACOMM_ERR_FILE_CREATE;\n    try {\n        CCallbackSource source(read, readUser, length);",
      HOST, "compressing to a NULL write function is not refused"),
    M("api-decompress-truncated-code", "src/api/CompressExports.cpp",
      "case LzhufStatus::Truncated: return VEXACOMM_ERR_DATA_TRUNCATED;",
      "case LzhufStatus::Truncated: return VEXACOMM_ERR_DATA_CORRUPT;",
      HOST, "truncated compressed data reported as corrupt (71013 for 71012)"),
    M("api-handout-no-reason", "src/api/ServiceExports.cpp",
      "    if (opened == nullptr && s.LastError() == 0)\n        s.StoreError(COMM_ERR_FILE_CREATE);",
      "",
      HOST, "a transfer file that could not be made without a recorded reason returns 0",
      equivalent="every failure but a failed allocation of the file object records its reason, "
                 "and no test can make that allocation fail"),
    M("api-sendpacket-largest-payload", "src/api/ServiceExports.cpp",
      "        if (length > PACKET_PAYLOAD_MAX) {",
      "        if (length >= PACKET_PAYLOAD_MAX) {",
      HOST, "a packet with the largest payload (16376 bytes) is refused"),
    M("api-progress-queued-flag", "src/api/HostObject.cpp",
      "m_bQueued = fn != nullptr && queued;",
      "m_bQueued = fn != nullptr && !queued;",
      API + "|" + HOST + "|" + DEVICE, "queued and immediate progress callbacks swapped"),

    # ------------------------------------------------------------- socket
    M("socket-progress-past-range", "src/socket/DataReception.cpp",
      "        if (m_counter < m_total)\n            ++m_counter;",
      "        ++m_counter;",
      SOCKET + "|" + DEVICE, "a device that sends more than it announced drives progress past the range"),
    M("socket-stream-left-open", "src/socket/GLSocket.cpp",
      "    DebugLog(\"CGLSocket::AbandonStream(%d): connection closed\\n\", m_nLastError);\n    Close();",
      "",
      SOCKET + "|" + HOST + "|^(LifeCycle|Asdu10)", "a stream left before its end stays on the line for the next request"),
    M("socket-progress-end-message", "src/socket/DataReception.cpp",
      "            m_socket.NotifyProgress(1, 0);\n",
      "",
      SOCKET + "|" + DEVICE, "no end-of-transfer progress message"),
    M("socket-cancel-codes-swapped", "src/socket/DataReception.cpp",
      "SetError(m_bCancelSent ? COMM_ERR_CANCELLED : COMM_ERR_PEER_CANCELLED);",
      "SetError(m_bCancelSent ? COMM_ERR_PEER_CANCELLED : COMM_ERR_CANCELLED);",
      SOCKET + "|" + DEVICE, "own cancel and the peer's cancel swapped (71005/71004)"),
    M("socket-unexpected-command-code", "src/socket/DataReception.cpp",
      "                } else {\n                    SetError(COMM_ERR_UNEXPECTED_REPLY);",
      "                } else {\n                    SetError(COMM_ERR_PEER_CANCELLED);",
      SOCKET + "|" + DEVICE, "an unexpected command in a transfer reported as 71004 instead of 71003"),
    M("socket-send-largest-payload", "src/socket/Framing.cpp",
      "    if (length > PACKET_PAYLOAD_MAX) {\n        SetError(COMM_ERR_PROTOCOL);",
      "    if (length >= PACKET_PAYLOAD_MAX) {\n        SetError(COMM_ERR_PROTOCOL);",
      SOCKET, "a packet of 16376 payload bytes is not sent"),
    M("socket-envelope-checksum-unchecked", "src/socket/Framing.cpp",
      "    if (ByteSum(packet, PACKET_HEADER_SIZE + length) != ReadU32(trailer))\n        return RejectPacket();\n",
      "",
      SOCKET, "an enveloped packet's checksum is not checked"),
    M("socket-rejection-unrecorded", "src/socket/Framing.cpp",
      "BOOL CPacketSocket::RejectPacket()\n{\n    SetError(COMM_ERR_PROTOCOL);",
      "BOOL CPacketSocket::RejectPacket()\n{",
      SOCKET + "|^Steps/CorruptionSweep", "a packet that fails its checks records no reason"),
    M("socket-exchange-forgets-close-cause", "src/socket/GLSocket.cpp",
      "    if (m_hSocket == kInvalidSocket)\n        return FailClosed();\n    StoreError(0);",
      "    StoreError(0);\n    if (m_hSocket == kInvalidSocket)\n        return FailClosed();",
      "^Steps/CutSweep", "an exchange on a closed connection forgets why it closed (71006 for 71000)"),
    M("socket-reply-text-area", "src/socket/Framing.cpp",
      "if (text.size() > REPLY_TEXT_AREA - 1)",
      "if (text.size() > REPLY_TEXT_AREA)",
      SOCKET, "a reply text of 256 characters leaves no room for its terminator"),
    M("socket-negotiated-size-248", "src/socket/Negotiation.cpp",
      "(answer < PACKET_SIZE_MIN || answer > PACKET_PAYLOAD_MAX)",
      "(answer <= PACKET_SIZE_MIN || answer > PACKET_PAYLOAD_MAX)",
      SOCKET, "a peer's answer of 248, the smallest packet size, is refused", quick=True),
    M("socket-answer-size-248", "src/service/NegotiationAnswers.cpp",
      "if (requested >= PACKET_SIZE_MIN && requested <= PACKET_PAYLOAD_MAX) {",
      "if (requested > PACKET_SIZE_MIN && requested <= PACKET_PAYLOAD_MAX) {",
      SOCKET, "a peer's request for 248 bytes is not granted"),
    M("socket-greeting-refused", "src/socket/Connect.cpp",
      "if (code == COMM_ERR_CONNECT_REFUSED || m_hSocket == kInvalidSocket) {",
      "if (m_hSocket == kInvalidSocket) {",
      SOCKET + "|" + DEVICE, "a greeting that refuses the connection leaves it established"),
    M("socket-greeting-cancel-code", "src/socket/Connect.cpp",
      "        if (m_nLastError != COMM_ERR_CANCELLED)\n            SetError(COMM_ERR_NO_GREETING);",
      "        SetError(COMM_ERR_NO_GREETING);",
      SOCKET + "|" + DEVICE, "a cancel while waiting for the greeting reported as 71002"),
    M("socket-companion-beside-host", "src/socket/ErrorText.cpp",
      "host.find_last_of(plat::kPathSeparator)",
      "host.find_first_of(plat::kPathSeparator)",
      FOUNDATION + "|" + SOCKET, "the companion library looked for in the wrong directory"),
    M("socket-lost-code-keeps-socket", "src/socket/GLSocket.cpp",
      "    m_nLastError = code;\n    if (IsLost())\n        Close();\n",
      "    m_nLastError = code;\n",
      FOUNDATION + "|" + SOCKET, "a code that means a lost connection leaves the socket open"),

    # ------------------------------------------------------------- device
    M("device-drain-before-request", "src/device/DeviceRequests.cpp",
      "    DrainInput();\n    SetHeader(command, length);",
      "    SetHeader(command, length);",
      DEVICE, "stale input is not discarded before a request"),
    M("device-type-table-typo", "src/device/DeviceTypes.cpp",
      "769, 946, 962, 1793, 4122, 28698",
      "769, 964, 962, 1793, 4122, 28698",
      DEVICE, "device type 946 mistyped as 964 in the table of known types", quick=True),
    M("device-asdu10-most-entries", "src/device/DeviceRequests.cpp",
      "entries > ASDU10_MAX_ENTRIES)",
      "entries >= ASDU10_MAX_ENTRIES)",
      DEVICE, "an ASDU 10 request with 2046 entries, the most that fit, is refused"),
    M("device-asdu10-packet-count", "src/device/DeviceRequests.cpp",
      "(static_cast<std::uint64_t>(total) + packetSize - 1) / packetSize",
      "static_cast<std::uint64_t>(total) / packetSize",
      DEVICE, "the packet count of a transfer rounded down: the last part packet is left"),
    M("device-empty-reply-check", "src/device/DeviceRequests.cpp",
      "        if (length == 0)\n            return TRUE;\n",
      "",
      DEVICE, "an empty reply judged by its code field",
      equivalent="the receive zero-fills the payload past the length, so an empty reply reads code 0"),

    # ------------------------------------------------------------ service
    M("service-compress-min-size", "src/service/TransferFiles.cpp",
      "    return source.size >= COMPRESS_MIN_SIZE && PeerStamp(root, copy, &made) &&",
      "    return source.size > COMPRESS_MIN_SIZE && PeerStamp(root, copy, &made) &&",
      SERVICE + "|" + HOST, "a source of exactly COMPRESS_MIN_SIZE bytes gets a new compressed copy every time"),
    M("service-copy-without-record", "src/service/TransferFiles.cpp",
      "           ReadRecord(root, copy + kRecordSuffix) == RecordText(source, made);",
      "           true;",
      SERVICE + "|" + HOST, "a compressed copy is reused without a record that it was made from this source"),
    M("service-close-status-3", "src/service/TransferFiles.cpp",
      "if (value != 0 && value != 1 && value != 3)",
      "if (value != 0 && value != 1 && value != 2)",
      SERVICE + "|" + HOST, "status 2 closes the file and status 3 does not", quick=True),
    M("service-send-start-offset", "src/service/TransferFiles.cpp",
      "record->count = record->size - request->startOffset;",
      "record->count = record->size;",
      SERVICE + "|" + HOST, "the count of a resumed send ignores its start offset"),
    M("service-send-offset-at-end", "src/service/TransferFiles.cpp",
      "if (request->startOffset > record->size &&",
      "if (request->startOffset >= record->size &&",
      SERVICE + "|" + HOST, "a send from the file's very end is refused instead of counting 0 bytes"),
    M("service-program-missing", "src/service/ProgramStart.cpp",
      "    if (!FileExists(program.c_str()))\n        return COMM_ERR_EXEC_BAD_COMMAND;\n",
      "",
      SERVICE, "a missing program reported as a failed start (71007) instead of 71008"),
    M("service-listing-keeps-previous", "src/service/DirectoryListing.cpp",
      "        DropListingOf(this);\n        HeldListing held;",
      "        HeldListing held;",
      SERVICE + "|" + HOST, "a new listing leaves the object's previous file behind under another name"),
    M("service-listing-not-exclusive", "src/platform/posix/DiskFile.cpp",
      "    if (held && hold == Hold::kRefused) {",
      "    if (false) {",
      SERVICE + "|" + HOST, "a listing empties and fills the file another live process or object holds at its name"),
    M("service-listing-dots", "src/service/DirectoryListing.cpp",
      "        if (finder.IsDots())\n            continue;\n",
      "",
      SERVICE + "|" + HOST, "the listing includes . and .."),
    M("service-delete-tree-self", "src/service/PeerFiles.cpp",
      "DeleteDirectoryTree(path, TRUE)",
      "DeleteDirectoryTree(path, FALSE)",
      SERVICE + "|" + HOST, "deleting a directory path leaves the directory itself"),

    # ---------------------------------------------------------------- lzh
    M("lzh-decoder-trailing-data", "src/lzh/LzhufDecoder.cpp",
      "if (m_nGetlen >= 8 || m_qwGetbuf != 0 || SourceHasMore())",
      "if (m_nGetlen >= 8 || m_qwGetbuf != 0)",
      LZH, "bytes after the end of the stream are not reported as corrupt", quick=True),
    M("lzh-decoder-match-at-end", "src/lzh/LzhufDecoder.cpp",
      "if (static_cast<std::uint32_t>(length) > size - count)",
      "if (static_cast<std::uint32_t>(length) >= size - count)",
      LZH, "a match that ends exactly at the promised size is taken for corrupt"),
    M("lzh-decoder-position-plus-one", "src/lzh/LzhufDecoder.cpp",
      "const int from = r - DecodePosition() - 1;",
      "const int from = r - DecodePosition();",
      LZH, "a match copied from one byte too near"),
    M("lzh-decoder-truncated-status", "src/lzh/LzhufDecoder.cpp",
      "    if (m_nGetlen < need)\n        throw Failure{LzhufStatus::Truncated};",
      "    if (m_nGetlen < need)\n        throw Failure{LzhufStatus::Corrupt};",
      LZH + "|" + HOST, "a stream cut inside a match position reported as corrupt"),
    M("lzh-decompress-keeps-partial", "src/lzh/LzhufDecoder.cpp",
      "    if (status != LzhufStatus::Ok)\n        plat::RemoveFile(target);\n",
      "",
      LZH, "a failed decompression leaves its partial output file"),
    M("lzh-encoder-threshold", "src/lzh/LzhufEncoder.cpp",
      "if (matchLength <= THRESHOLD) {",
      "if (matchLength < THRESHOLD) {",
      LZH, "matches of two bytes coded as matches", quick=True),
    M("lzh-encoder-long-run-replace", "src/lzh/LzhufEncoder.cpp",
      "        if (i >= F) {\n            ReplaceNode",
      "        if (i > F) {\n            ReplaceNode",
      LZH, "on long runs a full-length match no longer takes the nearest position: other output"),
    M("lzh-encoder-last-bit", "src/lzh/LzhufEncoder.cpp",
      "    if (m_nPutlen != 0) {\n        PutByte",
      "    if (m_nPutlen > 1) {\n        PutByte",
      LZH, "a single bit left at the end is not written"),
    M("lzh-encoder-pair-one-tree", "src/lzh/LzhufEncoder.cpp",
      "    if (a == b || (m_paths.SlotsOf(a) | m_paths.SlotsOf(b)) != 0)",
      "    if ((m_paths.SlotsOf(a) | m_paths.SlotsOf(b)) != 0)",
      LZH, "two insertions into one tree walk side by side, the second blind to the first: other output"),
    M("lzh-pathcache-gallop-skips", "src/lzh/LzhufPathCache.cpp",
      "while (hi - front > step && At(hi - step).bestLcp >= m) {",
      "while (hi - front > step && At(hi - step).bestLcp > m) {",
      LZH, "the search for where a descent leaves a cached path stops short of its first step: other output"),
    M("lzh-model-rebuild-rounding", "src/lzh/LzhufModel.cpp",
      "m_awFreq[j] = static_cast<std::uint16_t>((m_awFreq[i] + 1) / 2);",
      "m_awFreq[j] = static_cast<std::uint16_t>(m_awFreq[i] / 2);",
      LZH, "the tree rebuild halves frequencies rounding down: other output after 32768 symbols"),

    # ------------------------------------------------------------ support
    M("support-log-long-line", "src/support/DebugLog.cpp",
      "if (needed >= static_cast<int>(sizeof(small))) {",
      "if (needed > static_cast<int>(sizeof(small))) {",
      FOUNDATION, "a log line of exactly 512 characters loses its last one", quick=True),
    M("support-log-header", "src/support/DebugLog.cpp",
      '"[%010d][%04d-%02d-%02d %02d:%02d:%02d] -- "',
      '"[%010d][%04d-%02d-%02d %02d:%02d:%02d] - "',
      FOUNDATION, "the log file's line header changed"),
    M("support-create-existing-level", "src/support/FileSystemHelpers.cpp",
      "if (!plat::CreateDirectoryLevel(head.c_str()) && plat::LastSystemError() != plat::kErrorAlreadyExists)",
      "if (!plat::CreateDirectoryLevel(head.c_str()))",
      SERVICE, "creating a path stops at the first level that exists"),
    M("support-version-separator", "src/support/FileSystemHelpers.cpp",
      'text.replace(at, 2, ".");',
      'text.replace(at, 1, ".");',
      SERVICE, "version texts keep the blank after each comma",
      equivalent="the POSIX file version text is always empty; only the Windows build has version resources"),

    # ----------------------------------------------------------- platform
    M("platform-enotdir-path-not-found", "src/platform/SystemErrors.cpp",
      "case ENOTDIR: return kErrorPathNotFound;",
      "case ENOTDIR: return kErrorFileNotFound;",
      SERVICE + "|" + HOST, "a path through a file reported as file-not-found (2) instead of 3"),
    M("platform-eexist-code", "src/platform/SystemErrors.cpp",
      "case EEXIST: return kErrorAlreadyExists;",
      "case EEXIST: return kErrorAccessDenied;",
      SERVICE + "|" + HOST, "an existing entry reported as access denied"),
    M("platform-missing-parent", "src/platform/SystemErrors.cpp",
      "if (!backend::IsDirectory(parent.c_str())) {",
      "if (backend::IsDirectory(parent.c_str())) {",
      SERVICE + "|" + HOST, "a missing file in a missing directory reported as file-not-found"),
    M("platform-enospc-code", "src/platform/SystemErrors.cpp",
      "case ENOSPC: return kErrorDiskFull;",
      "case ENOSPC: return kErrorAccessDenied;",
      FOUNDATION + "|" + SERVICE + "|" + HOST, "a full disk reported as access denied"),
    M("platform-epipe-not-lost", "src/platform/posix/SocketErrors.cpp",
      "case EPIPE: return kWsaConnectionAborted;",
      "case EPIPE: return kWsaShutdown;",
      SOCKET, "a write after the peer has gone does not count as a lost connection"),
    M("platform-refused-code", "src/platform/posix/SocketErrors.cpp",
      "case ECONNREFUSED: return kWsaConnectionRefused;",
      "case ECONNREFUSED: return kWsaTimedOut;",
      SOCKET + "|" + API, "a refused connect reported as a time-out (10060 for 10061)"),
    M("platform-resolver-no-name", "src/platform/posix/SocketErrors.cpp",
      "case EAI_ADDRFAMILY: return kWsaHostNotFound;",
      "case EAI_ADDRFAMILY: return kWsaNoRecovery;",
      SOCKET, "an unknown host name reported as 11003 instead of 11001"),
    M("platform-file-cause-enoent", "src/platform/posix/DiskFile.cpp",
      "case ENOENT: return CFileException::fileNotFound;",
      "case ENOENT: return CFileException::badPath;",
      SERVICE + "|" + HOST + "|" + LZH, "a missing file's exception cause is bad path",
      equivalent="the causes are taken only for failed reads, writes and seeks, which never "
                 "fail with ENOENT"),
    M("platform-share-deny-none", "src/platform/posix/DiskFile.cpp",
      "int lockOp = share == shareDenyWrite || share == shareDenyNone ? LOCK_SH : LOCK_EX;",
      "int lockOp = share == shareDenyWrite ? LOCK_SH : LOCK_EX;",
      SERVICE, "an opener that shares everything keeps other readers out"),
    M("platform-hard-link", "src/platform/posix/DiskFile.cpp",
      "(noLink && st.st_nlink > 1)",
      "(noLink && st.st_nlink > 2)",
      HOST + "|" + SERVICE, "a temporary name planted as a hard link is written through"),
    M("platform-wildcard-dot-star", "src/platform/Wildcard.cpp",
      "return p[0] == '.' && p[1] == '*' && p[2] == '\\0';",
      "return false;",
      SERVICE, "*.* no longer matches names without a dot"),
    M("platform-wildcard-question", "src/platform/Wildcard.cpp",
      "} else if (*p == '?' || *p == *n) {",
      "} else if (*p == *n) {",
      SERVICE, "? matches only itself", quick=True),
    M("platform-readonly-owner", "src/platform/posix/FileSystem.cpp",
      "    if ((st.st_mode & S_IWUSR) == 0)\n        attributes |= FILE_ATTR_READONLY;",
      "    if ((st.st_mode & S_IWOTH) == 0)\n        attributes |= FILE_ATTR_READONLY;",
      SERVICE + "|" + HOST, "read-only judged by the others' write permission"),
    M("platform-delete-tree-keep-self", "src/platform/posix/FileSystem.cpp",
      "if (deleted && removeSelf && ::rmdir(text.c_str()) != 0) {",
      "if (deleted && ::rmdir(text.c_str()) != 0) {",
      SERVICE + "|" + HOST, "emptying a directory tree removes the directory too"),
    M("platform-bare-root", "src/platform/posix/FileSystem.cpp",
      'return text == "/" || text.size() == 3;',
      'return text == "/";',
      SERVICE, "a three-character path with a separator creates directories"),
    M("platform-backslashes-before-quote", "src/platform/CommandLine.cpp",
      "arg.append(backslashes / 2, '\\\\');",
      "arg.append(backslashes, '\\\\');",
      SERVICE, "backslashes before a quote are not halved"),
    M("platform-kill-group", "src/platform/posix/Process.cpp",
      "    if (::kill(-pid, SIGKILL) != 0)\n        ::kill(pid, SIGKILL);",
      "    ::kill(pid, SIGKILL);",
      SERVICE + "|" + HOST, "a program that outlives its wait leaves its children running"),
    M("platform-empty-verb", "src/platform/posix/Process.cpp",
      "if (verb != nullptr && verb[0] != '\\0' && ::strcasecmp(verb, \"open\") != 0)",
      "if (verb != nullptr && ::strcasecmp(verb, \"open\") != 0)",
      SERVICE + "|" + HOST, "an empty verb is not taken as open"),
    M("api-post-queues", "src/api/HostObject.cpp",
      "            m_queue.push_back(Message{wParam, lParam});\n            return TRUE;",
      "            return FALSE;",
      API + "|" + HOST + "|" + DEVICE, "a queued progress message is dropped"),
    M("api-dispatch-count", "src/api/HostObject.cpp",
      "return static_cast<int>(pending.size());",
      "return pending.empty() ? 0 : 1;",
      API + "|" + HOST + "|" + DEVICE, "dispatching reports one message however many ran"),
]

# The concurrency tests, as the tsan test preset selects them.
TSAN = "Concurren|SharedObject|Threads|TwoThreads|Cancel|Progress|Reentry"
FUZZ = "^fuzz_replay"
SWEEPS = "^Steps/"

# Where a blind mutant's tests are first looked for, by folder; when they
# all pass the whole suite of its build runs.
BLIND_TESTS = {
    "api": API + "|" + HOST + "|" + DEVICE,
    "socket": SOCKET + "|" + DEVICE + "|" + SWEEPS + "|" + FUZZ,
    "device": DEVICE + "|" + API + "|" + SWEEPS + "|" + FUZZ,
    "service": SERVICE + "|" + HOST + "|" + FUZZ,
    "lzh": LZH + "|" + HOST,
    "platform": SOCKET + "|" + SERVICE + "|" + HOST,
    "support": FOUNDATION + "|" + SERVICE + "|" + HOST,
}


# Blind mutants no test can tell apart, with the reason.
BLIND_EQUIVALENT = {
    "blind-platform-win-resolver-code":
        "wine answers 11001 for every name it cannot resolve (unknown, malformed, overlong names "
        "and labels were tried), and tests have no name server to answer 'try again'",
    "blind-platform-win-attribute-normal":
        "wine reports every regular file as archive (0x20), even after its attributes are set to "
        "normal, so the 'normal' bit never reaches the tests; Windows reports 0x80 for such a file",
    "blind-platform-win-root-trailing-separator":
        "a full path joins the directory and the name with a separator whenever the directory "
        "lacks one, so 'C:' and 'C:\\' give the same paths, and the directory is shown nowhere else",
    "blind-service-shell-zero-success":
        "the shell answers 0 only when memory runs out on Windows (the POSIX backend answers 31 "
        "or 33), which no test can bring about",
    "blind-api-handout-null-without-code":
        "the line of api-handout-no-reason: every failure but a failed allocation of the file "
        "object records its reason, and no test can make that allocation fail",
    "blind-api-unrecorded-failure-swapped":
        "the guard never fires: every failing path records its reason, which every test program "
        "checks in debug builds (tests/doubles/UnrecordedFailureCheck.cpp)",
    "blind-api-tsan-progress-read-after-unlock":
        "no write can race the read: the callback is rebound only under the object's lock, which "
        "the transfer delivering the progress holds for its whole call",
    "blind-socket-cancel-grace-keeps-socket":
        "the grace is only given within a transfer, whose stream guard closes the connection on the "
        "same exit when the device never answered the cancel",
    "blind-socket-drain-stops-at-first-count":
        "not caught: it differs only when stale bytes arrive between the drain's first look and its "
        "last read, a moment no test can place without a hook inside the receive; the drain's "
        "second look is kept by reading (Transport.DrainInputDiscardsWhatIsWaitingAndNoMore covers "
        "the pieces)",
}


def _blind():
    try:
        import mutants_blind
    except ImportError:
        return []
    made = []
    for b in mutants_blind.BLIND:
        folder = b.file.split("/")[1]
        tests = TSAN if b.build == "tsan" else BLIND_TESTS.get(folder, API + "|" + HOST)
        made.append(M(b.id, b.file, b.original, b.replacement, tests, b.description,
                      equivalent=BLIND_EQUIVALENT.get(b.id), build=b.build, blind=True))
    return made


MUTANTS += _blind()
