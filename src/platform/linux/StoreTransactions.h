#pragma once

// Transactions of the registry store: single writes of several statements,
// batches (RegApplyBatch) and what a failed step means for them.

#include <functional>

#include "platform/Registry.h"
#include "platform/linux/StoreFile.h"
#include "platform/linux/StoreStatements.h"

namespace orvel::platform::store {

class Transactions {
  public:
    Transactions(StoreFile& file, Statements& sql) : file_(file), sql_(sql) {}

    // Runs steps as one write: a transaction of its own, or a savepoint inside
    // a batch, so that a refused step undoes only itself.
    LONG Write(const std::function<LONG()>& steps);

    // Runs work as one transaction, kept when work answers ERROR_SUCCESS.
    // Where this process may not write, one read transaction: work's reads see
    // one state. undone runs after work was rolled back.
    LONG Batch(const std::function<LONG()>& work, const std::function<void()>& undone);

    // A failed SQLite step as a registry result. A damaged file is marked so;
    // inside a batch whose transaction SQLite gave up, the batch is lost.
    LONG Failure(int rc);

    // Once SQLite has given up the batch's transaction (it rolls back by
    // itself on a full disk or an I/O error), the batch writes nothing more
    // and answers this.
    LONG Lost() const { return depth_ > 0 ? lost_ : ERROR_SUCCESS; }
    bool InBatch() const { return depth_ > 0; }

  private:
    int Begin();
    int Commit();
    void Rollback();
    LONG ReadBatch(const std::function<LONG()>& work);

    StoreFile& file_;
    Statements& sql_;
    int depth_ = 0;  // batches open
    LONG lost_ = ERROR_SUCCESS;
};

}  // namespace orvel::platform::store
