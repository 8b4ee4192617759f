// Runs every file of the given seed corpora through a fuzz target's entry point once, so that
// the normal and sanitizer builds keep the targets compiling and their seeds passing.
#include "FuzzSupport.h"

#include <cstdio>

int main (int argc, char** argv)
{
    int count = 0;
    for (int i = 1; i < argc; ++i)
    {
        const juce::File arg (juce::File::getCurrentWorkingDirectory().getChildFile (argv[i]));
        juce::Array<juce::File> files;
        if (arg.isDirectory())
            files = arg.findChildFiles (juce::File::findFiles, false);
        else
            files.add (arg);
        files.sort();
        for (const auto& f : files)
        {
            juce::MemoryBlock bytes;
            if (! f.loadFileAsData (bytes))
            {
                std::fprintf (stderr, "cannot read %s\n", f.getFullPathName().toRawUTF8());
                return 1;
            }
            LLVMFuzzerTestOneInput (static_cast<const uint8_t*> (bytes.getData()), bytes.getSize());
            ++count;
        }
    }
    std::printf ("%d inputs replayed\n", count);
    return count > 0 ? 0 : 1;
}
