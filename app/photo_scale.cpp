#include "app/photo_scale.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <opencv2/imgproc.hpp>

#include "scale/scale_request.h"
#include "series/csv_text.h"
#include "series/scale_file.h"

using namespace meravel;

SessionScale session_scale_of(const ScaleReading& reading) {
  SessionScale scale;
  scale.note = reading.note;
  if (!reading.found()) return scale;
  scale.method = scale_method_name(reading.method);
  scale.px_per_mm = reading.px_per_mm;
  scale.px_per_mm_se = reading.px_per_mm_se;
  scale.spacing_varies = reading.spacing_varies;
  scale.steep_angle = reading.steep_angle;
  scale.marks = reading.ticks.empty() ? reading.corners : reading.ticks;
  scale.ruler_direction = reading.ruler_direction;
  scale.ellipse = reading.ellipse;
  return scale;
}

SessionScale read_scale_asking(const cv::Mat& photograph, ReferenceSizes& sizes,
                               const AskSize& ask) {
  cv::Mat grey;
  cv::cvtColor(photograph, grey, cv::COLOR_BGR2GRAY);
  ScaleRequest automatic;
  automatic.kind = ScaleRequest::Kind::automatic;
  automatic.size_mm = sizes.marker_side_mm;
  ScaleReading reading = read_scale(grey, automatic);
  if (!reading.found() && sizes.marker_side_mm <= 0 && marker_seen(grey)) {
    if (const std::optional<double> side = ask(kMarkerSideQuestion, 0.0)) {
      sizes.marker_side_mm = *side;
      reading = find_marker_scale(grey, *side);
    }
  }
  if (!reading.found()) {
    if (const std::optional<double> diameter = ask(kDiscDiameterQuestion, sizes.disc_diameter_mm)) {
      sizes.disc_diameter_mm = *diameter;
      ScaleReading disc = find_disc_scale(grey, *diameter);
      if (!disc.found()) disc.note = reading.note + "; " + disc.note;
      reading = disc;
    }
  }
  return session_scale_of(reading);
}

std::optional<double> ask_reference_size(QWidget* parent, const std::string& question,
                                         double proposed_mm) {
  QDialog dialog(parent);
  dialog.setObjectName(kReferenceSizeDialogName);
  dialog.setWindowTitle(QStringLiteral("Scale"));
  dialog.setModal(true);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(new QLabel(QString::fromStdString(question), &dialog));
  auto* field = new QLineEdit(&dialog);
  field->setObjectName(kReferenceSizeFieldName);
  layout->addWidget(field);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  layout->addWidget(buttons);
  QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
  const auto typed = [field] { return parse_length_mm(field->text().toStdString()); };
  QObject::connect(field, &QLineEdit::textChanged, ok,
                   [ok, typed] { ok->setEnabled(typed().has_value()); });
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  // Selected, so that a size typed replaces the proposal.
  field->setText(proposed_mm > 0 ? QString::fromStdString(number_with_digits(proposed_mm, 6))
                                 : QString());
  field->selectAll();
  ok->setEnabled(typed().has_value());

  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return typed();
}
