// Steps and texts shared by the two download operations of the transfer
// window (version check and documentation download).
#pragma once

#include "startup/core/RunParameters.h"
#include "http/IdHTTP.h"
#include "signature/SignatureCheck.h"
#include "transfer/core/SignatureMessages.h"

#include <QColor>
#include <QString>

#include <memory>
#include <string>

class QObject;
class TForm_Run;
class TMemoryStream;

namespace transfer::gui {

inline const QColor kBlue{0, 0, 255};
inline const QColor kGreen{0, 128, 0};
inline const QColor kRed{255, 0, 0};
inline const QColor kBlack{0, 0, 0};

// Status and message texts of the operations.
QString StatusConnecting();                                  // "NAVAZOVÁNÍ SPOJENÍ"
QString StatusDownloading(const std::string& fileName);      // "Stahování souboru " + name
QString SaveFailedMessage(const std::string& dir, const std::string& fileName);
QString BadVersionMessage(const QString& text);

// The version-information file is code page 1250.
QString FromCp1250(const std::string& bytes);
// Texts of our own are UTF-8; texts from a server may be anything.
QString FromUtf8OrCp1250(const std::string& bytes);

// Interception off, HTTP/1.0, the proxy of the run parameters (or none,
// port 80).
void PrepareClient(TIdHTTP& http, const TRunParameters& run);

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

// A failed request: exit code and message line by the error's text.
void ReportFailure(TForm_Run& form, TRunParameters& run, const std::string& errorText);

// Saves the downloaded stream as dir + fileName in place of every file in
// dir. Sets FinishedOk, shows the end of the connection, and leaves 21 or,
// on failure, 25 with the red message. Returns whether the file was saved.
bool SaveIntoTarget(TForm_Run& form, TRunParameters& run, QObject* sender,
                    const std::string& dir, const std::string& fileName, const TMemoryStream& stream);

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

    // Fetches <file name>.minisig from the server directory and checks all
    // that needs no bytes of the file, so a download can be refused before
    // it starts. A signature that is missing (an error status) or too
    // large is a problem like any other; a request that fails otherwise
    // (socket, TLS) throws, for the operation's usual failure handling.
    // When body is given and the signature is of the prehashed kind, the
    // file is hashed as its bytes arrive there, so that the verdict after
    // the last byte costs next to nothing.
    signature::Problem Prepare(TMemoryStream* body = nullptr);
    // The verdict on the file's bytes; Prepare must have returned None.
    signature::Problem Check(const uint8_t* data, std::size_t size);

private:
    void StopHashing();

    TIdHTTP& http_;
    std::string key_;
    std::string serverDir_;
    std::string fileName_;
    std::unique_ptr<signature::SignatureCheck> check_;
    // While hashing as bytes arrive: the body, how much of it is hashed,
    // and the client's own OnWork handler, which is passed through.
    TMemoryStream* body_ = nullptr;
    std::size_t hashed_ = 0;
    decltype(TIdHTTP::OnWork) passOn_;
};

// Fetches the signature of a version-information file that has just been
// fetched, and checks it (None without a key).
signature::Problem CheckVersionFileSignature(TIdHTTP& http, const std::string& publicKey, const std::string& serverDir,
                                             const std::string& fileName, const TMemoryStream& stream);

// A version-information file whose signature failed: the connection is
// shown cancelled, exit code 99, the red message, and the window stays
// open for the user to read it.
void RefuseVersionFile(TForm_Run& form, TRunParameters& run, QObject* sender, TIdHTTP& http,
                       signature::Problem problem, const std::string& fileName, transfer::SignedFileRole role);

// The last step of a download, between receiving the file and saving it:
// with a key, the file's signature must hold (refused, when Prepare
// already found a problem), or nothing is saved, the old files stay, 25
// and the red message; a good signature is shown on the status line.
// Then SaveIntoTarget. Returns whether the file was saved.
bool CheckAndSave(TForm_Run& form, TRunParameters& run, QObject* sender, SignedFile& signedFile,
                  signature::Problem refused, const std::string& dir, const TMemoryStream& stream);

} // namespace transfer::gui
