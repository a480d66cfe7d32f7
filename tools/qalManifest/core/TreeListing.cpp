#include "TreeListing.h"

#include <algorithm>

std::string ManifestFormOf(const std::string& listedPath)
{
    std::string form = listedPath;
    std::replace(form.begin(), form.end(), '/', '\\');
    return form;
}

void SortInManifestForm(std::vector<ListedFile>* files)
{
    for (ListedFile& file : *files)
        file.path = ManifestFormOf(file.path);
    std::sort(files->begin(), files->end(), [](const ListedFile& a, const ListedFile& b) { return a.path < b.path; });
}
