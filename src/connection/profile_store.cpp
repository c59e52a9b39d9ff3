#include "connection/profile_store.h"

namespace trp {

// Placeholder: the settings store is being built.
ProfileStore::ProfileStore() {}
ProfileStore::ProfileStore(QString file_path) : file_path_(std::move(file_path)) {}
QString ProfileStore::Get(const QString&, const QString& default_value) const { return default_value; }
void ProfileStore::Save(const QString&, const QString&) {}

}  // namespace trp
