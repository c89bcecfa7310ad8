// The steps the two download operations of the transfer window (version
// check, documentation download) have in common: start, fetch a small file
// into memory, report a failed fetch, download a file into the target
// directory and save it there, finish. Each operation is its own sequence
// of these steps plus the decisions that are only its own. With the
// publisher's public key built in, the steps also fetch and check each
// file's signature (SignedFile).
#pragma once

#include "http/IdHTTP.h"
#include "signature/SignatureCheck.h"
#include "transfer/core/ErrorClass.h"
#include "transfer/core/SaveDownload.h"
#include "transfer/core/SignatureMessages.h"
#include "transfer/core/VersionManifest.h"
#include "transfer/flow/TransferHost.h"
#include "transfer/flow/TransferTexts.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class TFileStream;

namespace transfer::flow {

class TransferFlow;

// Status and message texts of the operations (UTF-8).
std::string StatusDownloading(const std::string& fileName); // "Stahování souboru " + name
std::string SaveFailedMessage(const std::string& dir, const std::string& fileName);
std::string BadVersionMessage(const std::string& text);

// Interception off, HTTP/1.0, the proxy of the run parameters (or none,
// port 80).
void PrepareClient(TIdHTTP& http, const ProxySettings& proxy);

// Disconnects the client when the operation leaves, however it leaves.
class DisconnectGuard {
public:
    explicit DisconnectGuard(TIdHTTP& http) : http_(http) {}
    ~DisconnectGuard();
    DisconnectGuard(const DisconnectGuard&) = delete;
    DisconnectGuard& operator=(const DisconnectGuard&) = delete;

private:
    TIdHTTP& http_;
};

// Holds a flag set for the life of an operation.
class OperationFlag {
public:
    explicit OperationFlag(bool& flag) : flag_(flag) { flag_ = true; }
    ~OperationFlag() { flag_ = false; }
    OperationFlag(const OperationFlag&) = delete;
    OperationFlag& operator=(const OperationFlag&) = delete;

private:
    bool& flag_;
};

// A failed request: exit code and message line by the error's kind.
void ReportFailure(TransferFlow& flow, TransferHost& host, const ErrorClass& failure);

// The signature of one file fetched from the version directory, when the
// program carries the publisher's public key (without one, every step
// here accepts and sends nothing). The signature's own request is made
// quietly: the client's events are not shown, so a good signature leaves
// the window as it would be without one.
class SignedFile {
public:
    SignedFile(TIdHTTP& http, std::string publicKey, std::string serverDir, std::string fileName);
    ~SignedFile();
    SignedFile(const SignedFile&) = delete;
    SignedFile& operator=(const SignedFile&) = delete;

    bool Required() const { return !key_.empty(); }
    const std::string& FileName() const { return fileName_; }
    // Where the file's signature is: <server directory><file name>.minisig.
    static std::string SignatureAddress(const std::string& serverDir, const std::string& fileName);

    // Fetches <file name>.minisig from the server directory and checks all
    // that needs no bytes of the file, so a download can be refused before
    // it starts. A signature that is missing (an error status) or too
    // large is a problem like any other; a request that fails otherwise
    // (socket, TLS) throws, for the operation's usual failure handling.
    signature::Problem Prepare();
    // Sees the file's bytes in order as they arrive: the prehashed kind is
    // hashed here, so that the verdict after the last byte costs next to
    // nothing.
    void Observe(const uint8_t* bytes, std::size_t n);
    // The verdict on a file in memory (Observe not used).
    signature::Problem CheckBytes(const uint8_t* data, std::size_t size);
    // The verdict on a received file whose every byte went through Observe.
    signature::Problem CheckReceived();
    // Once a verdict found the file good: its hash, for the version file's list.
    const FileHash& Digest() const { return check_->Digest(); }
    // The signing time against the times accepted before on this machine:
    // Replayed when it is older; with remember, it becomes the latest for
    // the key and the name. StateUnusable: see StateError.
    signature::Problem CheckSigningTime(bool remember);
    const std::string& StateError() const { return stateError_; }

private:
    TIdHTTP& http_;
    std::string key_;
    std::string serverDir_;
    std::string fileName_;
    // Shared, so that a build without the signature library never names
    // its destructor.
    std::shared_ptr<signature::SignatureCheck> check_;
    std::string stateError_;
};

// A file to download into the target directory in place of its files.
struct DownloadRequest {
    std::string ServerDirAddress; // the address is ServerDirAddress + FileName
    std::string FileName;         // on the server and in TargetDir
    std::string TargetDir;        // a prefix: ends with the separator
    // Empty the gauge before the request rather than when its size arrives.
    bool ClearGaugeFirst = false;
};

// One run of a download operation. Creating it changes nothing; the steps
// are called in the operation's order. The client is disconnected when the
// object goes, however the operation leaves.
class DownloadOperation {
public:
    explicit DownloadOperation(TransferFlow& flow);
    DownloadOperation(const DownloadOperation&) = delete;
    DownloadOperation& operator=(const DownloadOperation&) = delete;

    // Exit code 0, no connection yet, "NAVAZOVÁNÍ SPOJENÍ"; the client set
    // up for this run's proxy.
    void Begin();

    // How a failed fetch of the small file is reported.
    enum class FailureReport {
        ByErrorText, // exit code and message line by the error's kind
        Silently,    // the status line only; the caller decides the rest
    };
    // Fetches a small file (the version information) into memory with the
    // byte-count line hidden. Fetched: connected, exit code 29, the bytes.
    // Failed: the connection's end shown, reported as asked, no bytes.
    // Either way the connected status comes back when a connection was
    // made, with an empty message line.
    std::optional<std::vector<uint8_t>> FetchIntoMemory(const std::string& address, FailureReport report);
    // The same for a file the run goes on to use (the version file): with
    // the publisher's key it may be no larger than a version file is, its
    // signature is fetched quietly right after it and must hold, it must
    // not be older than a version file accepted before, and it must list
    // the hash of listedFile (the file the run may download next) before
    // the run counts the file as fetched. A refused file ends the run
    // here, the connection shown cancelled, exit code 99, the red message
    // naming the problem (by role), the window left open; no bytes.
    std::optional<std::vector<uint8_t>> FetchSignedIntoMemory(const std::string& serverDir, const std::string& fileName,
        const std::string& listedFile, FailureReport report, transfer::SignedFileRole role);

    // The run already ended with something the user must see, though the
    // fetch was reported silently: a refused signature, or a secure
    // connection that failed (a certificate problem is named even then).
    bool EndedForTheUserToSee() const { return endedForTheUserToSee_; }

    // The connection ends as planned: "SPOJENÍ UKONČENO" once it is closed.
    void EndConnectionNormally();

    // Downloads the file of request into its target directory: exit code
    // 25 and the byte-count line while the body streams into a file there
    // that has no name yet; then, for a body that arrived whole, the
    // received-file check, and the save that replaces the directory's files
    // (21). A failed fetch is reported by its kind and leaves the
    // directory untouched; so does a refused or unsaveable file, reported
    // as a failed save. With the publisher's key the file's signature is
    // fetched first (a file it rules out, or one signed before a file of
    // its name already accepted, is not downloaded) and checked before
    // anything else, then its hash against the signed version file's list;
    // a good one shows "PODPIS SOUBORU OVĚŘEN" while the file is saved.
    // Returns whether the file was saved.
    bool DownloadIntoTarget(const DownloadRequest& request);

    // For a catch block around the steps: something none of them expects
    // was thrown; the run ends as a failure the user can read.
    void ReportUnexpectedFailure();

    // Disconnects; closes the window when mayClose and the operation
    // succeeded or asked for it (CloseWhenDone). Returns ConnectionMade.
    bool Finish(bool succeeded, bool mayClose);

private:
    // Fetches address into memory; accept, when given, decides right after
    // the request whether the run counts the bytes as fetched.
    std::optional<std::vector<uint8_t>> Fetch(const std::string& address, FailureReport report,
        const std::function<bool(const std::vector<uint8_t>&)>& accept);
    void HideProgressLine();
    void ShowProgressLine();
    void ReportFetchFailure(const ErrorClass& failure, FailureReport report);
    signature::Problem AcceptSignedVersionFile(const std::string& serverDir, const std::string& fileName,
        const std::string& listedFile, const std::vector<uint8_t>& fetched, std::string& stateError);
    void RefuseVersionFile(const std::string& message);
    signature::Problem CheckAgainstVersionFile(SignedFile& signedFile, const std::string& fileName);
    void ShowConnectionAgain();
    bool SaveReceivedFile(const DownloadRequest& request, TFileStream& received, const ReceivedFileChecks& checks,
        SignedFile& signedFile);
    void ReportSaveFailure(const DownloadRequest& request, int exitCode, const std::string& message);

    TransferFlow& flow_;
    TransferHost& host_;
    DisconnectGuard disconnectAtEnd_;
    std::string publicKey_; // the publisher's key; empty: files are taken unsigned
    bool endedForTheUserToSee_ = false;
    ErrorClass lastFailure_;
    // The hashes the accepted version file lists.
    std::optional<VersionManifest> manifest_;
};

} // namespace transfer::flow
