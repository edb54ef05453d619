// The embedded firmware set as the window uses it: the attributes record read
// at start-up, and the work files written before a download.
#include "app/CodeUpdater.h"

#if __has_include("app/EmbeddedFiles.h")
#include "app/EmbeddedFiles.h"
#define BCU_HAVE_EMBEDDED_FILES 1
#endif

namespace bcu::app {

#ifdef BCU_HAVE_EMBEDDED_FILES

bool CodeUpdater::ReadResourceAttributes() {
  return app::ReadResourceAttributes(m_Resources, m_Attributes);
}

bool CodeUpdater::ExtractEmbeddedFiles(bool bootResources) {
  return app::ExtractEmbeddedFiles(m_Resources, m_Host, m_Attributes, bootResources,
                                   m_UseSecondBoot, m_LoaderFileName, m_CodeFileName,
                                   m_Options.workDir);
}

#else
// Until the embedded-files reader is in the tree: the record alone.
bool CodeUpdater::ReadResourceAttributes() {
  std::span<const std::uint8_t> bytes;
  if (!m_Resources.Find("TEXT", "ResourceAttributes_", bytes)) return false;
  if (bytes.size() < kResourceAttributesSize) return false;
  m_Attributes = DecodeResourceAttributes(bytes.data());
  return true;
}
#endif

}  // namespace bcu::app
