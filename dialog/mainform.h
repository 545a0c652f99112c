// TRovandelParamsForm: the parameters dialog. One field per control, named as the
// controls are named (also their Qt object names), and the thirteen event handlers.
#pragma once

#include <array>
#include <functional>

#include "components/controls.h"
#include "components/dialogs.h"
#include "terrain/parameters.h"

class TRovandelParamsForm : public TForm {
 public:
  explicit TRovandelParamsForm(QWidget* owner);
  ~TRovandelParamsForm() override;

  // What Preview runs: the action of the checked radio button, the operation, and the
  // hand-over of the result to the host. Supplied by whoever shows the dialog.
  struct PreviewBackend {
    std::function<int()> getActionIndex;
    std::function<void(int)> runOperation;
    std::function<void()> pushPreview;
  };
  PreviewBackend previewBackend;

  TButton* OKButton;
  TButton* CancelButton;
  TGroupBox* GroupBox2;
  TPageControl* PageControl;
  TTabSheet* Noise;
  TTabSheet* Hills;
  TLabel* Label1;
  TComboBox* NoiseTypeCombo;
  TCSpinEdit* AmpSpin;
  TLabel* Label2;
  TLabel* Label3;
  TCSpinEdit* CoverSpin;
  TEdit* SeedEdit;
  TLabel* Label4;
  TLabel* Label5;
  TEdit* XGeoEdit;
  TEdit* YGeoEdit;
  TEdit* HeightEdit;
  TLabel* Label6;
  TLabel* Label7;
  TEdit* WidthEdit;
  TRadioButton* HillRadio;
  TRadioButton* NoiseRadio;
  TRadioButton* SoftenMoreRadio;
  TRadioButton* SoftenRadio;
  TButton* PreviewButton;
  TCheckBox* WaterCheck;
  TRadioButton* FlattenRadio;
  TTabSheet* Flatten;
  TEdit* FlattenHeightEdit;
  TCSpinEdit* FlattenSpin;
  TLabel* Label8;
  TLabel* Label9;
  TRadioButton* GlaciateRadio;
  TRadioButton* CanyonRadio;
  TTabSheet* Canyonize;
  TTabSheet* Glaciate;
  TLabel* Label10;
  TCSpinEdit* GlaciateSpin;
  TLabel* Label11;
  TCSpinEdit* CanyonizeSpin;
  bool PreviewShown;
  bool PushingPreview;

  // The action radio buttons in the order of their action index (Soften first).
  std::array<TRadioButton*, 7> ActionRadios() const {
    return {SoftenRadio,  SoftenMoreRadio, NoiseRadio, HillRadio,
            FlattenRadio, GlaciateRadio,   CanyonRadio};
  }

  // The operations' parameters as the controls give them at this moment, an empty
  // field standing for the parameter's default. Heights are the recorded range.
  terrain::FlattenParameters ReadFlatten() const;
  terrain::ProfileParameters ReadProfile(const TCSpinEdit* severity, double minHeight,
                                         double maxHeight) const;
  terrain::HillParameters ReadHill() const;
  // An empty seed is taken from the clock and shown, so the user can repeat the run.
  terrain::NoiseParameters ReadNoise(double minHeight, double maxHeight);

  void SeedEditChange();
  void XGeoEditChange();
  void YGeoEditChange();
  void HeightEditChange();
  void WidthEditChange();
  void FlattenHeightEditChange();
  void NoiseRadioClick();
  void HillRadioClick();
  void FlattenRadioClick();
  void GlaciateRadioClick();
  void CanyonRadioClick();
  void PreviewButtonClick();
  void FormCloseQuery(bool& canClose);

 private:
  void BuildLayout();
  void BindHandlers();
};
