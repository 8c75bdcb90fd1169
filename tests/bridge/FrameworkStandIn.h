// Stands in for an application framework whose file class is also named
// CFile: its header guard, a CFile with a virtual Write (here into memory)
// and the CFileException it throws by pointer. Not the library's CFile.
#ifndef __AFX_H__
#define __AFX_H__

#include <vector>

class CFileException {
public:
    explicit CFileException(int cause) : m_cause(cause) { ++Live(); }
    virtual ~CFileException() { --Live(); }
    void Delete() { delete this; }
    // Exceptions not yet deleted: the bridge must free each it catches.
    static int& Live()
    {
        static int live = 0;
        return live;
    }
    int m_cause;
};

class CFile {
public:
    virtual ~CFile() {}
    virtual void Write(const void* buffer, unsigned count)
    {
        const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
        m_data.insert(m_data.end(), bytes, bytes + count);
    }
    std::vector<unsigned char> m_data;
};

#endif
