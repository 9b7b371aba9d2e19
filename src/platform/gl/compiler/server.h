// The compile server: glslang runs in a process of its own, so that a crash
// or a hang on a bad source ends only that process and becomes a compile
// error. The server is the small program hotfx-compile-server, started
// beside hotfx as a fresh process image (it inherits only its socket), kept
// for the following compiles and started again after it dies.
//
// A reload compiles the entry points of one file one after the other. So a
// request names the other entry points compiled from its file at the last
// load, and the server compiles those ahead, on the request's content, each
// on a thread of its own (at most one per core), while it compiles the
// request itself. A later request of the same content, entry point, profile
// and flags takes that result, once the files it included still read the
// same; any other content drops them. The threads end with their compile:
// nothing is kept idle. A crash in the server, which may have been in a
// compile ahead, is told apart by compiling the request again alone.
#pragma once

#include "platform/gl/common/diagnostics.h"
#include "platform/gl/hlsl/source_files.h"

#include <cstdint>
#include <string>
#include <vector>

// An entry point of a file, with what it is compiled for.
struct EntryPoint {
    uint32_t language = 0; // glslang's EShLanguage
    uint32_t flags    = 0; // D3DX11CompileFromFileA's Flags1
    std::string entryPoint, profile;
    bool operator==(const EntryPoint &o) const {
        return language == o.language && flags == o.flags && entryPoint == o.entryPoint &&
               profile == o.profile;
    }
};

// One compile: what D3DX11CompileFromFileA was asked, with the source read.
struct CompileRequest : EntryPoint {
    std::string fileName, source;
    // The caller's working directory: a relative file name and its
    // includes are found from there, wherever the server was started.
    std::string workingDirectory;
    // The file's other entry points of the last load, to compile ahead.
    std::vector<EntryPoint> ahead;
    // Every entry point of the file's last load, to compile when the file
    // is saved.
    std::vector<EntryPoint> load;
};

// Its outcome: the compiler's diagnostics (errors, or warnings on success),
// the SPIR-V words, and the registers of the cbuffers laid out with
// packoffset (bit N for bN; their SPIR-V offsets are the source's own).
struct CompileReply {
    bool ok = false;
    Diagnostics diagnostics;
    uint32_t packedRegisters = 0;
    std::vector<uint32_t> spirv;
    IncludedFiles included; // the text of each file the compile included
};

// The wire format, one encoder and decoder each. A deadline is in
// CLOCK_MONOTONIC seconds, 0 for none; timedOut tells a hang from a closed
// peer.
bool SendRequest(int fd, const CompileRequest &request);
bool ReceiveRequest(int fd, CompileRequest &request);
bool SendReply(int fd, const CompileReply &reply);
bool ReceiveReply(int fd, CompileReply &reply, double deadline, bool &timedOut);

// Compiles in the server, starting it first if need be. A crash or a hang
// there comes back as a failed compile with a message saying so. False when
// no server can be started (no helper program, no process to be had): the
// caller then compiles in its own process.
bool CompileInServer(const CompileRequest &request, CompileReply &reply);

// The server's loop: requests in, replies out, until the socket closes.
int ServeCompiles(int fd);

// The compile itself, in the calling process (compiler/compile.cpp).
void CompileInThisProcess(const CompileRequest &request, CompileReply &reply);
