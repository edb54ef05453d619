// The embedded firmware set as the window uses it: the attributes record read
// at start-up, and the work files written before a download.
#include "app/CodeUpdater.h"
#include "app/EmbeddedFiles.h"

namespace bcu::app {

bool CodeUpdater::ReadResourceAttributes() {
  return app::ReadResourceAttributes(m_Resources, m_Attributes);
}

bool CodeUpdater::ExtractEmbeddedFiles(bool bootResources) {
  // The work files go into the run's own folder, never beside another
  // copy's.
  if (!PrepareRunWorkFolder()) return false;
  return app::ExtractEmbeddedFiles(m_Resources, m_Host, m_Attributes, bootResources,
                                   m_UseSecondBoot, m_LoaderFileName, m_CodeFileName, m_RunWorkDir);
}

}  // namespace bcu::app
