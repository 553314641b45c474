#pragma once

// The error kinds of the file formats: the base layer's generic ones, and the registries' own.

#include "base/errors.hpp"

namespace serializers {

using base::Error;
using base::FileNotFoundError;
using base::IndexError;
using base::KeyError;
using base::OSError;
using base::TypeError;
using base::ValueError;

/// The loader registry could not register or pick a reader.
class LoaderError : public Error {
 public:
  using Error::Error;
  [[nodiscard]] const char* kind() const noexcept override { return "LoaderError"; }
};

/// The exporter registry could not register or pick a writer.
class ExporterError : public Error {
 public:
  using Error::Error;
  [[nodiscard]] const char* kind() const noexcept override { return "ExporterError"; }
};

}  // namespace serializers
