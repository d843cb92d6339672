// Serializable: what every stored or sent record implements. The file and
// the wire form may differ; the stream is a file, a memory buffer or a
// socket.
#pragma once

class i4_file;

class Serializable {
public:
    virtual ~Serializable() = default;
    virtual bool toNetwork(i4_file* file) = 0;
    virtual bool fromNetwork(i4_file* file) = 0;
    virtual bool toDisk(i4_file* file) = 0;
    virtual bool fromDisk(i4_file* file) = 0;
    // Byte length of the wire form.
    virtual int wireSize() = 0;
};
