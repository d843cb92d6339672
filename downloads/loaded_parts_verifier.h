// The check a partial download loaded from disk gets before its data is
// trusted: the download side hands each loaded partial file to the
// verifier (the sharing side's hashing thread), which reads the data again
// on its own thread, one partial file at a time and before any shared file
// is hashed, then tells the download.
#pragma once

// One loaded partial file with its download, both referenced by the job.
class LoadedParts {
public:
    // Verifies the partial file's data again against its hashes; false
    // when the data could not be read.
    virtual bool verify() = 0;
    // Tells the download the result (its hashDone); a failure ends the
    // download with "Error hashing.".
    virtual void hashDone(bool verified) = 0;
    // Drops the references the job holds; the job is not used afterwards.
    virtual void release() = 0;

protected:
    ~LoadedParts() = default;
};

class LoadedPartsVerifier {
public:
    // Any thread. Takes the job over: verify, hashDone and release follow
    // on the verifier's thread (release alone when it shuts down first).
    virtual void queueFinished(LoadedParts* parts) = 0;

protected:
    ~LoadedPartsVerifier() = default;
};

// The installed verifier: null until start-up installs one and after
// shutdown removes it. Any thread.
LoadedPartsVerifier* loadedPartsVerifier();
// Returns the previous one; null uninstalls. Not owned.
LoadedPartsVerifier* setLoadedPartsVerifier(LoadedPartsVerifier* verifier);
