// Implementation factory: where implementation libraries register and targets obtain implementations.
#pragma once

#include "qxpattern/factory.h"
#include "qxscsi/commands.h"
#include "qxscsi/export.h"
#include "qxscsi/implementation.h"

// The factory singleton, known to the companion registry as "13QXScsiFactory".
class QXSCSI_EXPORT QXScsiFactory : public QXFactory {
 public:
  // An empty factory; requests by any target type name reach the registered implementation.
  QXScsiFactory();
  // Forgets the registrations; implementations made earlier stay with their owners.
  virtual ~QXScsiFactory();

  // Registers a creator/destroyer pair under "QXScsiTargetImpl"; both are plain functions.
  void registerScsiTargetImpl(QXAbstractProduct* (*create)(), void (*destroy)(QXAbstractProduct*));
  // A new implementation for product name (empty: "15QXScsiSPITarget") that accepted hint, or null.
  // The caller owns the result; name and hint are borrowed, a null pointer for either gives null.
  QXScsiTargetImpl* createScsiTargetImpl(const char* name, const char* hint);

  // A new factory, owned by the caller (the registry when it sets up the singleton).
  static QXAbstractProduct* createInstance();
  // Deletes product (owned by the caller until now); null is ignored.
  static void deleteInstance(QXAbstractProduct* product);
  // Always null: this factory makes no argument objects.
  QXScsiArgs* createArgs(unsigned char opcode, unsigned char* data, unsigned long length);
};
