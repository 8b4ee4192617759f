// Generates the plug-in's embedded assets: six impulse responses (FLAC) and three pictures (PNG).
//   kto_resgen <output folder> <TrueType font>
// Every number comes from fixed seeds, so each run writes the same bytes.

#include "Impulses.h"
#include "Pictures.h"

#include <juce_events/juce_events.h>

#include <iostream>

namespace
{
bool writePng (const juce::Image& image, const juce::File& file)
{
    file.deleteFile();
    juce::FileOutputStream out (file);
    return out.openedOk() && juce::PNGImageFormat().writeImageToStream (image, out);
}
} // namespace

int main (int argc, char** argv)
{
    if (argc != 3)
    {
        std::cerr << "usage: kto_resgen <output folder> <font.ttf>\n";
        return 2;
    }
    const juce::ScopedJuceInitialiser_GUI juce;
    const juce::File outDir (juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]));
    const juce::File fontFile (juce::File::getCurrentWorkingDirectory().getChildFile (argv[2]));
    if (! outDir.createDirectory())
    {
        std::cerr << "kto_resgen: cannot create " << outDir.getFullPathName() << "\n";
        return 1;
    }

    int type = 1;
    for (const auto& design : resgen::spaceDesigns())
    {
        const auto file = outDir.getChildFile ("ir" + juce::String (type++) + ".flac");
        if (! resgen::writeFlac (resgen::synthesise (design), file.getFullPathName().toStdString()))
        {
            std::cerr << "kto_resgen: cannot write " << file.getFullPathName() << "\n";
            return 1;
        }
    }

    juce::MemoryBlock fontData;
    if (! fontFile.loadFileAsData (fontData) || fontData.getSize() == 0)
    {
        std::cerr << "kto_resgen: cannot read " << fontFile.getFullPathName() << "\n";
        return 1;
    }
    const auto face = juce::Typeface::createSystemTypefaceFor (fontData.getData(), fontData.getSize());

    const bool ok = writePng (resgen::paintKnobPointer(), outDir.getChildFile ("knob_pointer.png"))
                 && writePng (resgen::paintKnobBody(), outDir.getChildFile ("knob_body.png"))
                 && writePng (resgen::paintBackground (face), outDir.getChildFile ("background.png"));
    if (! ok)
    {
        std::cerr << "kto_resgen: cannot write the pictures\n";
        return 1;
    }
    return 0;
}
