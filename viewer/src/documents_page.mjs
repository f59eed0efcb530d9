// The page's document reader (window.LumidraDocuments).
import { readDocument, imageReferences, PDF_CLASS, KEY_OBJECT_CLASS } from './documents.mjs';

self.LumidraDocuments = { readDocument, imageReferences, PDF_CLASS, KEY_OBJECT_CLASS };
